// vpack's package commands: create, append, list and extract, and the one error line every package
// failure prints. Each command checks everything it can before it writes, and writes through
// temporaries that are put in place only when the whole command succeeded.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/image_slot.h"
#include "tools/vpack.h"

namespace {

// What each package error number means, for the one error line of a failed command.
const char* ErrorText(unsigned long code)
{
    switch (code) {
    case 150: return "a path argument is missing";
    case 151: return "a path is 260 characters or longer";
    case 152: return "the source file does not exist or is not a file";
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
    case 169: return "a compressed record does not decode to exactly the content its zstd frame declares";
    default: return "unknown error";
    }
}

}  // namespace

int VpackFailWith(unsigned long code, const std::string& what)
{
    if (code < 100) return VpackFail(what.c_str());  // vpack's own refusals say it all in what
    std::string line = "error " + std::to_string(code) + ": " + ErrorText(code);
    if (!what.empty()) line += " (" + what + ")";
    return VpackFail(line.c_str());
}

int VpackFailChecked(unsigned long code, const std::string& what, const PackDigestCheck& check)
{
    return VpackFailWith(code, code == kErrDigestMismatch ? what + ": " + VpackDigestText(check) : what);
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

// The package behind a setup executable: an "MZ" file larger than the stub's image.
uint32_t DefaultOffset(const std::string& path)
{
    VpackFile f;
    char mz[2] = {0, 0};
    size_t got = 0;
    uint64_t size = 0;
    if (!VpackOpenRead(path, &f) || !VpackRead(&f, mz, 2, &got) || got != 2 || !VpackSize(&f, &size)) return 0;
    return mz[0] == 'M' && mz[1] == 'Z' && size > kVpackStubImage ? kVpackStubImage : 0;
}

bool ParseOffset(const char* text, uint32_t* out)
{
    if (!text || !*text || *text == '-') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text, &end, 0);
    if (errno || *end || v > 0xFFFFFFFFull) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

std::string VpackShownName(const std::string& stored)
{
    std::string host;
    if (VpackHostName(stored, &host)) return host;
    std::string text;
    char hex[8];
    for (unsigned char c : stored) {
        if (c < 0x80) {
            text += (char)c;
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        }
    }
    return text;
}

int VpackPackageOffset(const char* command, const VpackArgs& args, uint32_t* offset)
{
    const char* text = args.Value("--offset");
    if (!text) {
        *offset = DefaultOffset(args.pos[0]);
        return 0;
    }
    return ParseOffset(text, offset) ? 0 : VpackUsage(command);
}

void VpackPrintListing(const std::vector<VpackListed>& records, const PackDigestCheck& check)
{
    // A stored record: its name and size. A compressed one: its name, the size it unpacks to, and
    // "zstd" with the bytes it takes in the package.
    uint64_t stored = 0, content = 0;
    bool compressed = false;
    for (const VpackListed& r : records) {
        if (r.isEnd) continue;
        stored += r.size;
        content += r.content;
        compressed = compressed || r.compressed;
        if (r.compressed)
            std::printf("%s\t%lu\tzstd %lu\n", VpackShownName(r.name).c_str(), r.content, r.size);
        else
            std::printf("%s\t%lu\n", VpackShownName(r.name).c_str(), r.size);
    }
    if (compressed)
        std::printf("compressed: %llu bytes stored for %llu (%.1f %%)\n", (unsigned long long)stored,
                    (unsigned long long)content, content ? 100.0 * (double)stored / (double)content : 100.0);
    std::printf("%s\n", VpackDigestText(check).c_str());
}

namespace {

// The bytes a package of these files takes, and whether the format can hold them: every offset
// of a package, the setup's 307200 bytes before it included, is 32 bits.
unsigned long CheckTotal(uint64_t before, const std::vector<VpackInput>& inputs, uint64_t after, std::string* what)
{
    uint64_t total = before;
    for (const VpackInput& in : inputs) total += VpackRecordBytes(in.stored, in.size);
    total += after;
    if (total <= 0xFFFFFFFFull) return 0;
    *what = "the result would be " + std::to_string(total) +
            " bytes; the package format ends at 4294967295 (4 GiB - 1): ship the payload in parts";
    return kVpackErrTooLarge;
}

// A setup executable's package checked against the digest in its stub's slot, as the stub checks
// it before it installs: 167 when the slot is empty or damaged, or names other bytes than the
// package's end record does. An image without a slot (a stub from before it) is not checked.
unsigned long CheckSlot(const std::string& path, const PackDigestCheck& check, std::string* what)
{
    VpackFile f;
    std::vector<uint8_t> image(kVpackStubImage);
    size_t got = 0;
    if (!VpackOpenRead(path, &f) || !VpackRead(&f, image.data(), image.size(), &got)) {
        *what = path + ": " + VpackSystemReason();
        return 156;
    }
    uint32_t at = 0;
    int found = core_FindImageSlot(image.data(), got, &at);
    if (found == 0) return 0;
    DigestValue slot = {};
    int filled = found < 0 ? -1 : core_ReadSlot(image.data() + at, &slot);
    if (filled < 0) {
        *what = path + ": the stub's payload slot is damaged; the setup installs no package";
        return kErrDigestMismatch;
    }
    if (filled == 0) {
        *what = path + ": the stub's payload slot is empty; the setup installs no package (make it with vpack "
                "setup or vpack assemble)";
        return kErrDigestMismatch;
    }
    if (check.state == kDigestOk && core_DigestEqual(&slot, &check.stored)) return 0;
    *what = path + ": the stub's slot carries BLAKE3 " + VpackDigestHex(slot) + ", the package " +
            (check.state == kDigestOk ? std::string("is closed with ") + core_DigestName(check.stored.algorithm) +
                                            " " + VpackDigestHex(check.stored)
                                      : std::string("carries no digest")) +
            ": the package is not the stub's own";
    return kErrDigestMismatch;
}

// create: a new package of the files, or (append) the package with the files added. Nothing is
// written unless every file can go in; the result replaces the package only whole.
int PackFiles(const char* command, int argc, char** argv, bool append)
{
    static const char* const kFlags[] = {"--compress", nullptr};
    static const char* const kValued[] = {"--codepage", "--level", nullptr};
    VpackArgs a;
    if (!VpackParse(command, argc, argv, kFlags, kValued, &a)) return 2;
    if (a.pos.size() < 2) return VpackUsage(command);
    if (int rc = VpackApplyCodepage(command, a)) return rc;
    int level = 0;
    if (int rc = VpackCompressionLevel(command, a, false, &level)) return rc;
    const std::string package = a.pos[0];
    std::vector<std::string> files(a.pos.begin() + 1, a.pos.end());
    std::vector<VpackInput> inputs;
    std::string what;
    if (unsigned long err = VpackRefuseSameFile(package, files, &what)) return VpackFailWith(err, what);
    if (unsigned long err = VpackPlanInputs(files, &inputs, &what)) return VpackFailWith(err, what);

    PackDigestCheck check = {};
    std::vector<VpackListed> records;
    uint64_t before = kPackageMagicLen;
    if (append) {
        if (VpackKindOf(package, true) == kVpackMissing) return VpackFailWith(153, package);
        if (unsigned long err = VpackCheckPackage(package, 0, &check, &records, &what))
            return VpackFailWith(err, what);
        if (!records.empty() && records.back().isEnd) return VpackFailWith(kErrPackageClosed, package);
        before = check.endOffset;
    } else if (VpackKindOf(package, false) != kVpackMissing &&
               VpackCheckPackage(package, 0, nullptr, nullptr, &what) != 0) {
        // create replaces a package; anything else at that name was not made by vpack.
        return VpackFailWith(kVpackErrExists, package + " exists and is no package: not replaced (remove it first)");
    }
    // Against each other and, for append, against the package's own records.
    if (unsigned long err = VpackRefuseDuplicates(inputs, records, &what)) return VpackFailWith(err, what);
    if (unsigned long err = CheckTotal(before, inputs, 0, &what)) return VpackFailWith(err, what);

    VpackOutput out;
    if (unsigned long err = out.Open(package, &what)) return VpackFailWith(err, what);
    VpackPackageWriter w(&out);
    w.level = level;
    unsigned long err = append ? w.Copy(package, check.endOffset, check.blake3, &what) : w.Magic(&what);
    if (!err) err = w.Records(inputs, &what);
    if (!err) err = out.Commit(&what);
    return err ? VpackFailWith(err, what) : 0;
}

}  // namespace

VPACK_COMMAND(create, 1, "create", "vpack create PACKAGE FILE... [--codepage N] [--compress] [--level N]",
              "make a new package of the files, in the order given (record name = bare file name); "
              "it replaces PACKAGE only when that is a package")
{
    return PackFiles("create", argc, argv, false);
}

VPACK_COMMAND(append, 1, "append", "vpack append PACKAGE FILE... [--codepage N] [--compress] [--level N]",
              "add the files as records to an existing package: all of them or none")
{
    return PackFiles("append", argc, argv, true);
}

VPACK_COMMAND(list, 2, "list", "vpack list PACKAGE [--offset N] [--codepage N]",
              "one line per record (name, a tab, its size), then the payload digest: ok or none; a "
              "damaged package is refused. A setup executable is read from 307200 on. Names beyond "
              "ASCII show as \\xNN unless --codepage says what they are")
{
    static const char* const kValued[] = {"--offset", "--codepage", nullptr};
    VpackArgs a;
    if (!VpackParse("list", argc, argv, nullptr, kValued, &a)) return 2;
    if (a.pos.size() != 1) return VpackUsage("list");
    uint32_t offset = 0;
    if (int rc = VpackPackageOffset("list", a, &offset)) return rc;
    if (int rc = VpackApplyCodepage("list", a)) return rc;
    std::vector<VpackListed> records;
    PackDigestCheck check = {};
    std::string what;
    if (unsigned long err = VpackCheckPackage(a.pos[0], offset, &check, &records, &what))
        return VpackFailChecked(err, what, check);
    if (offset == kVpackStubImage)
        if (unsigned long err = CheckSlot(a.pos[0], check, &what)) return VpackFailWith(err, what);
    VpackPrintListing(records, check);
    return 0;
}
