// vpack's setup commands: close a package, assemble a setup executable from the bare stub and a
// package, or make one straight from the files. A setup is checked before it is written (the stub
// is a Windows image that fits, the payload carries the two programs the stub starts) and streamed
// through a temporary: memory stays flat whatever the payload.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/image_slot.h"
#include "tools/vpack.h"

namespace {

const char kCompanion[] = "ulmApxSvr.exe";
const char kInstaller[] = "VemloSetup.exe";

// Reads the stub into image (padded with zeros to 307200 bytes) after checking that it is a PE
// image for x86 or x64 that fits, with a sound payload slot.
unsigned long ReadStub(const std::string& path, std::vector<uint8_t>* image, uint64_t* stubSize, std::string* what)
{
    VpackFile f;
    if (unsigned long err = VpackOpenInput(path, &f, what)) return err;
    if (!VpackSize(&f, stubSize)) {
        *what = path + ": " + VpackSystemReason();
        return 155;
    }
    if (*stubSize > kVpackStubImage) {
        *what = "stub " + path + " is " + std::to_string(*stubSize) + " bytes; it must not exceed 307200";
        return kVpackErrStub;
    }
    image->assign(kVpackStubImage, 0);
    size_t got = 0;
    if (!VpackRead(&f, image->data(), (size_t)*stubSize, &got) || got != *stubSize) {
        *what = path + ": " + VpackSystemReason();
        return 156;
    }
    const uint8_t* p = image->data();
    uint32_t machine = core_ImageMachine(p, (size_t)*stubSize);
    if (machine != 0x014C && machine != 0x8664) {
        *what = "stub " + path + " is no Windows executable for x86 or x64 (no MZ and PE headers for "
                "machine 0x14c or 0x8664): build it with the win32 preset";
        return kVpackErrStub;
    }
    uint32_t slotAt = 0;
    int slot = core_FindImageSlot(p, (size_t)*stubSize, &slotAt);
    if (slot < 0) {
        *what = "stub " + path + " has a damaged payload slot (its .vslot section is out of the image or holds no "
                "slot): build it again";
        return kVpackErrStub;
    }
    if (slot == 0) {
        // Only a slot binds the setup to its package: without one the signed setup would install any
        // package put behind it, so no client takes it.
        *what = "stub " + path + " has no payload slot (no .vslot section): it is no setup stub of this "
                "project; the stub is the first operand (vpack setup STUB -o OUT FILE...), the Setup.exe "
                "of the win32 preset";
        return kVpackErrStub;
    }
    return 0;
}

// A bare stub (a slot, still empty) among the files is a stub given in the wrong place: it would
// be packed as a payload file while some other file is taken for the stub. A finished setup (its
// slot filled) may be payload, as any program may. Files that cannot be read are left to
// VpackPlanInputs, which names them.
unsigned long RefuseStubAmongFiles(const std::vector<std::string>& files, std::string* what)
{
    std::vector<uint8_t> head(kVpackStubImage);
    for (const std::string& path : files) {
        VpackFile f;
        uint64_t size = 0;
        size_t got = 0;
        if (!VpackOpenRead(path, &f) || !VpackSize(&f, &size) || size > kVpackStubImage ||
            !VpackRead(&f, head.data(), (size_t)size, &got))
            continue;
        uint32_t at = 0;
        DigestValue filled;
        if (core_FindImageSlot(head.data(), got, &at) == 1 && core_ReadSlot(head.data() + at, &filled) == 0) {
            *what = path + " is a setup stub (its payload slot is empty), given among the files: the stub is the "
                    "first operand (vpack setup STUB -o OUT FILE...)";
            return kVpackErrStub;
        }
    }
    return 0;
}

bool SameName(const std::string& a, const char* b)
{
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? (char)(a[i] - 'A' + 'a') : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? (char)(b[i] - 'A' + 'a') : b[i];
        if (x != y) return false;
    }
    return true;
}

// The stub starts ulmApxSvr.exe, then VemloSetup.exe, from the folder it unpacked into: a setup
// without them fails on every client. skip: say so and go on.
unsigned long CheckPrograms(const std::vector<std::string>& names, bool skip, std::string* what)
{
    static const struct {
        const char* name;
        int error;
    } kPrograms[] = {{kCompanion, 355}, {kInstaller, 356}};
    for (const auto& program : kPrograms) {
        bool found = false;
        for (const std::string& n : names) found = found || SameName(n, program.name);
        if (found) continue;
        std::string line = std::string("the payload has no ") + program.name + ": every client would log \"install "
                           "failed with Err " + std::to_string(program.error) + ".\"";
        if (!skip) {
            *what = line + " (--no-program-check makes the setup anyway)";
            return kVpackErrPrograms;
        }
        std::fprintf(stderr, "vpack: warning: %s\n", line.c_str());
    }
    return 0;
}

// Writes the finished stub image at the start of out, over the placeholder: its slot filled with
// the package's digest, so that the setup, once signed, installs this package and no other.
unsigned long SealStub(VpackOutput* out, std::vector<uint8_t>* image, uint64_t stubSize, const DigestValue& digest,
                       std::string* what)
{
    // The stub image is complete only once the package digest is known. ReadStub found the slot
    // sound.
    if (core_FillImageSlot(image->data(), (size_t)stubSize, &digest) <= 0) {
        *what = out->target + ": the stub's payload slot could not be filled";
        return kVpackErrStub;
    }
    if (!VpackSeek(&out->file, 0)) {
        *what = out->target + ": " + VpackSystemReason();
        return 157;
    }
    return out->Put(image->data(), image->size(), what);
}

int Report(const std::string& outPath, uint64_t stubSize, uint64_t packageBytes, const DigestValue& digest)
{
    std::printf("%s: %lu bytes (stub %lu, padded to %lu, package %lu with its end record)\n", outPath.c_str(),
                (unsigned long)(kVpackStubImage + packageBytes), (unsigned long)stubSize, kVpackStubImage,
                (unsigned long)packageBytes);
    std::printf("payload digest: BLAKE3 %s\n", VpackDigestHex(digest).c_str());
    std::printf("stub slot: filled\n");
    return 0;
}

// Writes a setup through a temporary: a placeholder for the stub image, the package bytes that
// put() writes behind it, the end record with their digest, then the stub with its slot filled
// over the placeholder; prints what was made.
template <typename Put>
int WriteSetup(const std::string& outPath, std::vector<uint8_t>* image, uint64_t stubSize, Put put)
{
    std::string what;
    VpackOutput out;
    if (unsigned long err = out.Open(outPath, &what)) return VpackFailWith(err, what);
    VpackPackageWriter w(&out);
    DigestValue digest = {};
    std::vector<uint8_t> placeholder(kVpackStubImage, 0);
    unsigned long err = out.Put(placeholder.data(), placeholder.size(), &what);
    if (!err) err = put(&w, &what);
    if (!err) err = w.End(&digest, &what);
    if (!err) err = SealStub(&out, image, stubSize, digest, &what);
    if (!err) err = out.Commit(&what);
    if (err) return VpackFailWith(err, what);
    return Report(outPath, stubSize, w.written, digest);
}

// Stub, zero padding to 307200 bytes, the package bytes before any end record, and a fresh end
// record with their digest. The package is checked first: a damaged one never becomes a setup.
int Assemble(const std::string& stubPath, const std::string& packagePath, const std::string& outPath, bool skip,
             int level)
{
    std::string what;
    std::vector<std::string> inputs = {stubPath, packagePath};
    if (unsigned long err = VpackRefuseSameFile(outPath, inputs, &what)) return VpackFailWith(err, what);
    std::vector<uint8_t> image;
    uint64_t stubSize = 0;
    if (unsigned long err = ReadStub(stubPath, &image, &stubSize, &what)) return VpackFailWith(err, what);
    PackDigestCheck check = {};
    std::vector<VpackListed> records;
    if (unsigned long err = VpackCheckPackage(packagePath, 0, &check, &records, &what))
        return VpackFailChecked(err, what, check);
    std::vector<std::string> names;
    for (const VpackListed& r : records) names.push_back(r.name);
    if (unsigned long err = CheckPrograms(names, skip, &what)) return VpackFailWith(err, what);
    if ((uint64_t)kVpackStubImage + check.endOffset + kEndRecordLen > 0xFFFFFFFFull)
        return VpackFailWith(kVpackErrTooLarge, packagePath + ": behind a stub it would pass the package format's "
                                                              "4 GiB - 1 bytes");
    return WriteSetup(outPath, &image, stubSize, [&](VpackPackageWriter* w, std::string* failed) {
        if (level <= 0) return w->Copy(packagePath, check.endOffset, check.blake3, failed);
        w->level = level;
        unsigned long err = w->Magic(failed);
        return err ? err : w->Repack(packagePath, check.blake3, failed);
    });
}

// The same straight from the files: the records are written behind the placeholder as they are
// read, each input read once.
int Setup(const std::string& stubPath, const std::string& outPath, const std::vector<std::string>& files, bool skip,
          int level)
{
    std::string what;
    std::vector<std::string> inputs = files;
    inputs.push_back(stubPath);
    if (unsigned long err = VpackRefuseSameFile(outPath, inputs, &what)) return VpackFailWith(err, what);
    if (unsigned long err = RefuseStubAmongFiles(files, &what)) return VpackFailWith(err, what);
    std::vector<uint8_t> image;
    uint64_t stubSize = 0;
    if (unsigned long err = ReadStub(stubPath, &image, &stubSize, &what)) return VpackFailWith(err, what);
    std::vector<VpackInput> planned;
    if (unsigned long err = VpackPlanInputs(files, &planned, &what)) return VpackFailWith(err, what);
    if (unsigned long err = VpackRefuseDuplicates(planned, {}, &what)) return VpackFailWith(err, what);
    std::vector<std::string> names;
    uint64_t total = (uint64_t)kVpackStubImage + kPackageMagicLen + kEndRecordLen;
    for (const VpackInput& in : planned) {
        names.push_back(in.stored);
        total += VpackRecordBytes(in.stored, in.size);
    }
    if (unsigned long err = CheckPrograms(names, skip, &what)) return VpackFailWith(err, what);
    if (total > 0xFFFFFFFFull)
        return VpackFailWith(kVpackErrTooLarge, "the setup would be " + std::to_string(total) +
                                                    " bytes; the package format ends at 4294967295 (4 GiB - 1): "
                                                    "ship the payload in parts");
    return WriteSetup(outPath, &image, stubSize, [&](VpackPackageWriter* w, std::string* failed) {
        w->level = level;
        unsigned long err = w->Magic(failed);
        return err ? err : w->Records(planned, failed);
    });
}

const char* const kSetupFlags[] = {"--no-program-check", "--store", nullptr};

}  // namespace

VPACK_COMMAND(close, 1, "close", "vpack close PACKAGE",
              "append the end record with the payload digest; a closed package takes no more records")
{
    VpackArgs a;
    if (!VpackParse("close", argc, argv, nullptr, nullptr, &a)) return 2;
    if (a.pos.size() != 1) return VpackUsage("close");
    const std::string& package = a.pos[0];
    std::string what;
    PackDigestCheck check = {};
    std::vector<VpackListed> records;
    if (unsigned long err = VpackCheckPackage(package, 0, &check, &records, &what)) return VpackFailWith(err, what);
    if (!records.empty() && records.back().isEnd) return VpackFailWith(kErrPackageClosed, package);
    VpackOutput out;
    if (unsigned long err = out.Open(package, &what)) return VpackFailWith(err, what);
    VpackPackageWriter w(&out);
    DigestValue digest = {};
    unsigned long err = w.Copy(package, check.endOffset, check.blake3, &what);
    if (!err) err = w.End(&digest, &what);
    if (!err) err = out.Commit(&what);
    if (err) return VpackFailWith(err, what);
    PackDigestCheck closed = {};
    closed.state = kDigestOk;
    closed.stored = closed.computed = digest;
    std::printf("%s\n", VpackDigestText(closed).c_str());
    return 0;
}

VPACK_COMMAND(assemble, 1, "assemble", "vpack assemble STUB PACKAGE OUT [--no-program-check] [--store] [--level N]",
              "pad the stub with zeros to 307200 bytes, append the package (its records compressed where that "
              "pays, unless --store) and close it with its digest")
{
    static const char* const kValued[] = {"--level", nullptr};
    VpackArgs a;
    if (!VpackParse("assemble", argc, argv, kSetupFlags, kValued, &a)) return 2;
    if (a.pos.size() != 3) return VpackUsage("assemble");
    int level = 0;
    if (int rc = VpackCompressionLevel("assemble", a, true, &level)) return rc;
    return Assemble(a.pos[0], a.pos[1], a.pos[2], a.Has("--no-program-check"), level);
}

VPACK_COMMAND(setup, 1, "setup", "vpack setup STUB -o OUT FILE... [--codepage N] [--no-program-check] [--store] [--level N]",
              "make a setup straight from the stub and the files (a package of them, assembled); the files "
              "must include ulmApxSvr.exe and VemloSetup.exe")
{
    static const char* const kValued[] = {"-o", "--codepage", "--level", nullptr};
    VpackArgs a;
    if (!VpackParse("setup", argc, argv, kSetupFlags, kValued, &a)) return 2;
    // OUT is named by -o alone: a forgotten OUT can never make the first file the output.
    if (!a.Has("-o") || a.pos.size() < 2) return VpackUsage("setup");
    if (int rc = VpackApplyCodepage("setup", a)) return rc;
    int level = 0;
    if (int rc = VpackCompressionLevel("setup", a, true, &level)) return rc;
    std::vector<std::string> files(a.pos.begin() + 1, a.pos.end());
    return Setup(a.pos[0], a.Value("-o"), files, a.Has("--no-program-check"), level);
}
