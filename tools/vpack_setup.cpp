// vpack assemble: a setup executable from the bare stub and a package.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/vpack.h"

namespace {

const unsigned long kStubImage = 307200;  // where the stub looks for its package

bool ReadWhole(const char* path, std::vector<char>* bytes)
{
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes->insert(bytes->end(), buf, buf + n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

}  // namespace

VPACK_COMMAND(assemble, "assemble", "vpack assemble STUB PACKAGE OUT",
              "pad the stub with zeros to 307200 bytes and append the package")
{
    if (argc != 3) return VpackUsage("assemble");
    std::vector<char> stub, package;
    if (!ReadWhole(argv[0], &stub)) return VpackFail((std::string("cannot read stub ") + argv[0]).c_str());
    if (stub.size() > kStubImage) {
        char line[200];
        std::snprintf(line, sizeof line, "stub %s is %lu bytes; it must not exceed %lu", argv[0],
                      (unsigned long)stub.size(), kStubImage);
        return VpackFail(line);
    }
    if (!ReadWhole(argv[1], &package)) return VpackFail((std::string("cannot read package ") + argv[1]).c_str());
    size_t stubSize = stub.size();
    stub.resize(kStubImage, '\0');
    // Written under a temporary name and moved into place, so a failed run never leaves a
    // half-written setup under the final name.
    std::string tmp = std::string(argv[2]) + ".part";
    FILE* out = std::fopen(tmp.c_str(), "wb");
    if (!out) return VpackFail((std::string("cannot create ") + tmp).c_str());
    bool ok = std::fwrite(stub.data(), 1, stub.size(), out) == stub.size() &&
              (package.empty() || std::fwrite(package.data(), 1, package.size(), out) == package.size());
    ok = (std::fclose(out) == 0) && ok;
    if (!ok || !MoveFileExA(tmp.c_str(), argv[2], MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(tmp.c_str());
        return VpackFail((std::string("cannot write ") + argv[2]).c_str());
    }
    std::printf("%s: %lu bytes (stub %lu, padded to %lu, package %lu)\n", argv[2],
                (unsigned long)(kStubImage + package.size()), (unsigned long)stubSize, kStubImage,
                (unsigned long)package.size());
    return 0;
}
