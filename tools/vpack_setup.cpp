// vpack's setup commands: close a package, assemble a setup executable from the bare stub and a
// package, or make one straight from the files.
#include <cstdio>
#include <string>
#include <vector>

#include "core/image_slot.h"
#include "tools/vpack.h"

namespace {

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

// The end record that closes package bytes with their digest.
std::vector<char> EndRecord(const DigestValue& digest)
{
    uint8_t record[kEndRecordLen];
    uint32_t len = core_EncodeEndRecord(record, &digest);
    return std::vector<char>(record, record + len);
}

// Stub, zero padding to 307200 bytes, the package bytes before any end record, and a fresh end
// record with their digest. The package is checked first: a damaged one never becomes a setup.
// The same digest goes into the stub's slot, so that the setup, once signed, installs this
// package and no other.
int Assemble(const char* stubPath, const char* packagePath, const char* outPath)
{
    std::vector<char> stub, package;
    if (!ReadWhole(stubPath, &stub)) return VpackFail((std::string("cannot read stub ") + stubPath).c_str());
    if (stub.size() > kVpackStubImage) {
        char line[200];
        std::snprintf(line, sizeof line, "stub %s is %lu bytes; it must not exceed %lu", stubPath,
                      (unsigned long)stub.size(), kVpackStubImage);
        return VpackFail(line);
    }
    PackDigestCheck check = {};
    unsigned long err = VpackCheckPackage(packagePath, 0, &check, nullptr);
    if (err == 0 && check.state == kDigestMismatch) err = kErrDigestMismatch;
    if (err) return VpackFailWith(err, std::string(packagePath) + (err == kErrDigestMismatch ? ": " + VpackDigestText(check) : ""));
    if (!ReadWhole(packagePath, &package)) return VpackFail((std::string("cannot read package ") + packagePath).c_str());
    if (check.endOffset > package.size()) return VpackFail((std::string("package changed while read: ") + packagePath).c_str());
    package.resize(check.endOffset);
    std::vector<char> end = EndRecord(check.blake3);
    int slot = core_FillImageSlot(reinterpret_cast<uint8_t*>(stub.data()), stub.size(), &check.blake3);
    if (slot < 0) return VpackFail((std::string("stub ") + stubPath + " has a damaged payload slot").c_str());

    size_t stubSize = stub.size();
    stub.resize(kVpackStubImage, '\0');
    // Written under a temporary name and moved into place, so a failed run never leaves a
    // half-written setup under the final name.
    std::string tmp = std::string(outPath) + ".part";
    FILE* out = std::fopen(tmp.c_str(), "wb");
    if (!out) return VpackFail((std::string("cannot create ") + tmp).c_str());
    bool ok = std::fwrite(stub.data(), 1, stub.size(), out) == stub.size() &&
              std::fwrite(package.data(), 1, package.size(), out) == package.size() &&
              std::fwrite(end.data(), 1, end.size(), out) == end.size();
    ok = (std::fclose(out) == 0) && ok;
    if (!ok || !VpackReplaceFile(tmp, outPath)) {
        VpackRemoveFile(tmp);
        return VpackFail((std::string("cannot write ") + outPath).c_str());
    }
    std::printf("%s: %lu bytes (stub %lu, padded to %lu, package %lu with its end record)\n", outPath,
                (unsigned long)(kVpackStubImage + package.size() + end.size()), (unsigned long)stubSize,
                kVpackStubImage, (unsigned long)(package.size() + end.size()));
    std::printf("payload digest: BLAKE3 %s\n", VpackDigestHex(check.blake3).c_str());
    // A stub from before the slot makes a setup that takes any sound package: say so.
    std::printf(slot ? "stub slot: filled\n" : "stub slot: none (this setup is not bound to its package)\n");
    return 0;
}

}  // namespace

VPACK_COMMAND(close, "close", "vpack close PACKAGE",
              "append the end record with the payload digest; a closed package takes no more records")
{
    if (argc != 1) return VpackUsage("close");
    std::string dir, name;
    if (!VpackSplitPath(argv[0], &dir, &name)) return VpackUsage("close");
    if (unsigned long err = VpackClosePackage(argv[0])) return VpackFailWith(err, argv[0]);
    PackDigestCheck check = {};
    if (VpackCheckPackage(argv[0], 0, &check, nullptr) == 0) std::printf("%s\n", VpackDigestText(check).c_str());
    return 0;
}

VPACK_COMMAND(assemble, "assemble", "vpack assemble STUB PACKAGE OUT",
              "pad the stub with zeros to 307200 bytes, append the package and close it with its digest")
{
    if (argc != 3) return VpackUsage("assemble");
    return Assemble(argv[0], argv[1], argv[2]);
}

VPACK_COMMAND(setup, "setup", "vpack setup STUB OUT FILE...",
              "make a setup straight from the stub and the files (a package of them, assembled)")
{
    if (argc < 3) return VpackUsage("setup");
    std::string pkg = std::string(argv[1]) + ".vpk.part";
    int rc = 0;
    for (int i = 2; i < argc && rc == 0; ++i) {
        std::string dir, name;
        if (!VpackSplitPath(argv[i], &dir, &name)) {
            rc = VpackUsage("setup");
        } else if (unsigned long err = VpackPackFile(pkg, argv[i], i > 2)) {
            rc = VpackFailWith(err, argv[i]);
        }
    }
    if (rc == 0) rc = Assemble(argv[0], pkg.c_str(), argv[1]);
    VpackRemoveFile(pkg);
    return rc;
}
