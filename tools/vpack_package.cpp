// vpack's package commands: create, append, list and extract, all through the library's own
// package writer and reader (list walks the records with the reader's checks, writing nothing).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/vpack.h"

namespace {

// What each package error number means, for the one error line of a failed command.
const char* ErrorText(unsigned long code)
{
    switch (code) {
    case 150: return "a path argument is missing";
    case 151: return "a path is 260 characters or longer";
    case 152: return "the source file does not exist";
    case 153: return "the package to append to does not exist";
    case 154: return "the existing package cannot be deleted";
    case 155: return "the file size cannot be read, is 4 GiB or more, or is not above the offset";
    case 156: return "a file cannot be opened";
    case 157: return "a write failed";
    case 158: return "the destination folder does not exist";
    case 159: return "fewer than 17 bytes follow the offset";
    case 160: return "the header is not the package magic";
    case 161: return "a name length cannot be read, is above 64, or is too long for the destination";
    case 162: return "a data length cannot be read in full";
    case 163: return "a record ends beyond the package";
    case 164: return "a name cannot be read in full";
    case 165: return "a destination file cannot be created, or its name would leave the destination folder";
    case 166: return "a content piece cannot be read in full, or the source changed size while packed";
    case 167: return "the payload digest does not match: the package is damaged";
    case 168: return "the package is closed: records after its end record would never be read "
                     "(make a new one with vpack create)";
    default: return "unknown error";
    }
}

}  // namespace

int VpackFailWith(unsigned long code, const std::string& what)
{
    std::string line = "error " + std::to_string(code) + ": " + ErrorText(code);
    if (!what.empty()) line += " (" + what + ")";
    return VpackFail(line.c_str());
}

std::string VpackHex64(unsigned long long v)
{
    char text[17];
    std::snprintf(text, sizeof text, "%08lx%08lx", static_cast<unsigned long>(v >> 32),
                  static_cast<unsigned long>(v & 0xFFFFFFFFu));
    return text;
}

std::string VpackDigestHex(const DigestValue& v)
{
    char hex[2 * kDigestMaxLen + 1];
    core_DigestHex(&v, hex);
    return hex;
}

std::string VpackDigestText(const PackDigestCheck& check)
{
    if (check.state == kDigestNone) return "digest: none";
    if (check.state == kDigestOk)
        return std::string("digest: ok ") + core_DigestName(check.stored.algorithm) + " " + VpackDigestHex(check.stored);
    return "digest: mismatch (the end record carries " + VpackDigestHex(check.stored) + ", the package gives " +
           VpackDigestHex(check.computed) + ")";
}

namespace {

int FailWith(unsigned long code, const std::string& what = "") { return VpackFailWith(code, what); }

// The package behind a setup executable: an "MZ" file larger than the stub's image.
unsigned long DefaultOffset(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    char mz[2] = {0, 0};
    bool exe = std::fread(mz, 1, 2, f) == 2 && mz[0] == 'M' && mz[1] == 'Z';
    bool large = exe && std::fseek(f, 0, SEEK_END) == 0 && std::ftell(f) > static_cast<long>(kVpackStubImage);
    std::fclose(f);
    return large ? kVpackStubImage : 0;
}

bool ParseOffset(const char* text, unsigned long* out)
{
    if (!text || !*text || *text == '-') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text, &end, 0);
    if (errno || *end || v > 0xFFFFFFFFull) return false;
    *out = static_cast<unsigned long>(v);
    return true;
}

// Options shared by list and extract: positional arguments, --offset N, -v.
struct Args {
    std::vector<std::string> pos;
    unsigned long offset = 0;
    bool offsetGiven = false;
    bool verbose = false;
};

bool ParseArgs(int argc, char** argv, bool allowVerbose, Args* a)
{
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--offset") == 0) {
            if (i + 1 >= argc || !ParseOffset(argv[++i], &a->offset)) return false;
            a->offsetGiven = true;
        } else if (allowVerbose && std::strcmp(argv[i], "-v") == 0) {
            a->verbose = true;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return false;
        } else {
            a->pos.push_back(argv[i]);
        }
    }
    if (!a->offsetGiven && !a->pos.empty()) a->offset = DefaultOffset(a->pos[0]);
    return true;
}

// Adds the files to the package in the given order; the first one starts a new package when
// fresh is set.
int PackFiles(const char* command, int argc, char** argv, bool fresh)
{
    if (argc < 2) return VpackUsage(command);
    std::string pkgDir, pkgName;
    if (!VpackSplitPath(argv[0], &pkgDir, &pkgName)) return VpackUsage(command);
    for (int i = 1; i < argc; ++i) {
        std::string dir, name;
        if (!VpackSplitPath(argv[i], &dir, &name)) return VpackUsage(command);
        if (unsigned long err = VpackPackFile(argv[0], argv[i], !(fresh && i == 1))) return FailWith(err, argv[i]);
    }
    return 0;
}

// Walks the package with the reader's checks and its digest, writing nothing. 0 when it is sound
// (a digest mismatch is 167), else the error number.
unsigned long ListPackage(const std::string& path, unsigned long offset, std::vector<VpackListed>* records, PackDigestCheck* check)
{
    unsigned long err = VpackCheckPackage(path, offset, check, records);
    if (err == 0 && check->state == kDigestMismatch) err = kErrDigestMismatch;
    return err;
}

void Print(const std::vector<VpackListed>& records, const PackDigestCheck& check)
{
    for (const VpackListed& r : records) std::printf("%s\t%lu\n", r.name.c_str(), static_cast<unsigned long>(r.size));
    std::printf("%s\n", VpackDigestText(check).c_str());
}

}  // namespace

VPACK_COMMAND(create, "create", "vpack create PACKAGE FILE...",
              "make a new package of the files, in the order given (record name = bare file name)")
{
    return PackFiles("create", argc, argv, true);
}

VPACK_COMMAND(append, "append", "vpack append PACKAGE FILE...", "add the files as records to an existing package")
{
    return PackFiles("append", argc, argv, false);
}

VPACK_COMMAND(list, "list", "vpack list PACKAGE [--offset N]",
              "one line per record (name, a tab, its size), then the payload digest: ok or none; a "
              "damaged package is refused. A setup executable is read from 307200 on")
{
    Args a;
    if (!ParseArgs(argc, argv, false, &a) || a.pos.size() != 1) return VpackUsage("list");
    std::vector<VpackListed> records;
    PackDigestCheck check = {};
    if (unsigned long err = ListPackage(a.pos[0], a.offset, &records, &check))
        return FailWith(err, err == kErrDigestMismatch ? VpackDigestText(check) : "");
    Print(records, check);
    return 0;
}

VPACK_COMMAND(extract, "extract", "vpack extract PACKAGE DIR [--offset N] [-v]",
              "unpack the package into DIR (made when missing); a digest mismatch leaves nothing there; -v "
              "then lists what came out and the digest")
{
    Args a;
    if (!ParseArgs(argc, argv, true, &a) || a.pos.size() != 2) return VpackUsage("extract");
    std::string dir, name;
    if (!VpackSplitPath(a.pos[0], &dir, &name)) return VpackUsage("extract");
    const std::string& dst = a.pos[1];
    if (!VpackDirExists(dst)) VpackMakeDir(dst);
    if (unsigned long err = VpackUnpack(a.pos[0], dst, a.offset)) return FailWith(err);
    if (a.verbose) {
        std::vector<VpackListed> records;
        PackDigestCheck check = {};
        if (ListPackage(a.pos[0], a.offset, &records, &check) == 0) Print(records, check);
    }
    return 0;
}
