// vpack: the command table. Each vpack_*.cpp registers its commands with VPACK_COMMAND.
#pragma once

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "core/package_walk.h"

#include "tools/vpack_io.h"

// A command gets the arguments after its name; it returns the exit status:
// 0 success, 1 failure (one line "vpack: ..." on standard error), 2 wrong usage.
using VpackRun = int (*)(int argc, char** argv);

struct VpackCommand {
    int group;  // in the help: 1 make a release, 2 inspect, 3 stored formats
    const char* name;
    const char* usage;    // "vpack list PACKAGE [--offset N]"
    const char* summary;  // one line for the help text
    VpackRun run;
};

struct VpackRegistrar {
    explicit VpackRegistrar(const VpackCommand& command);
};

#define VPACK_COMMAND(ident, group, name, usage, summary)                                        \
    static int VpackRun_##ident(int argc, char** argv);                                           \
    static VpackRegistrar vpackReg_##ident({group, name, usage, summary, &VpackRun_##ident});     \
    static int VpackRun_##ident(int argc, char** argv)

// Prints "usage: <usage>" of the named command on standard error and returns 2.
int VpackUsage(const char* name);
// Prints "vpack: <text>" on standard error and returns 1.
int VpackFail(const char* text);
// True when the arguments ask for help ("-h" or "--help" anywhere before "--").
bool VpackWantsHelp(int argc, char** argv);

// ---- Command lines ----------------------------------------------------------------------------

// The arguments of one command: its operands in order and the options it was given. Options come
// anywhere before "--"; everything after it is an operand.
struct VpackArgs {
    std::vector<std::string> pos;
    std::vector<std::pair<std::string, std::string>> options;  // name and value ("" for a flag)
    bool Has(const char* name) const;
    const char* Value(const char* name) const;  // null when not given
};
// Parses argv: flags and valued are the option names the command takes (null-terminated lists).
// False (after printing the usage line of command) on an option it does not take, one that
// lacks its value or a valued one given twice.
bool VpackParse(const char* command, int argc, char** argv, const char* const* flags, const char* const* valued,
                VpackArgs* out);
// Applies --codepage N when given: 0, or the exit status of the failure it printed.
int VpackApplyCodepage(const char* command, const VpackArgs& args);

// ---- Shared by the package and setup commands -------------------------------------------------

// Where a setup executable carries its package: the stub's image is padded to this size.
const unsigned long kVpackStubImage = 307200;
// vpack's own refusals beside the package error numbers: a name the reader would refuse, an
// output that is one of the inputs, a payload past the format's 4 GiB, a stub that is no stub,
// a payload without the programs, and a destination name taken.
const unsigned long kVpackErrName = 1;
const unsigned long kVpackErrSameFile = 2;
const unsigned long kVpackErrTooLarge = 3;
const unsigned long kVpackErrStub = 4;
const unsigned long kVpackErrPrograms = 5;
const unsigned long kVpackErrExists = 6;
// Prints "vpack: error N: <meaning> (<what>)" (for vpack's own refusals "vpack: <what>") on
// standard error and returns 1.
int VpackFailWith(unsigned long code, const std::string& what = "");
// --offset N of list and extract (a setup executable's 307200 when not given): 0 or the usage
// exit status.
int VpackPackageOffset(const char* command, const VpackArgs& args, uint32_t* offset);
// A stored name as this host shows it: converted from the code page, or byte by byte with every
// byte beyond ASCII as \xNN when there is no code page to convert it with.
std::string VpackShownName(const std::string& stored);
// Prints one line per record (name as this host shows it, a tab, size), then the digest line.
struct VpackListed;
void VpackPrintListing(const std::vector<VpackListed>& records, const PackDigestCheck& check);
// "digest: ok BLAKE3 <hex>" (or "digest: ok XXH3-64 <hex>" for a package closed by an older
// vpack), "digest: none" or "digest: mismatch (...)".
std::string VpackDigestText(const PackDigestCheck& check);
// VpackFailWith for a failed package check: a digest mismatch also says what the digests were.
int VpackFailChecked(unsigned long code, const std::string& what, const PackDigestCheck& check);
// The value in lower-case hex, as b3sum (or xxhsum -H3) prints it.
std::string VpackDigestHex(const DigestValue& v);

// ---- vpack_store.cpp: packages over the platform's files --------------------------------------
// Each returns 0 or an error number with *what saying which file and why.

// The payload digest of package bytes (BLAKE3-256, what vpack closes packages with and what a
// setup's slot carries): the one place vpack computes it.
struct VpackDigest {
    PayloadDigest state;
    void Begin();
    void Update(const void* data, size_t len);
    DigestValue Value() const;
};
// The end record that closes a package with this digest: kEndRecordLen bytes into out.
void VpackEndRecord(const DigestValue& digest, uint8_t* out);

// Opens a file to read: 152 when missing or a folder, 156 when it cannot be opened.
unsigned long VpackOpenInput(const std::string& path, VpackFile* f, std::string* what);
// Walks the package in path from offset with every check of the reader, names in the stored code
// page; the content goes through the visitor in pieces of a fixed buffer.
unsigned long VpackWalk(const std::string& path, uint32_t offset, CoreVisitor visitor, std::string* what);

struct VpackListed {
    std::string name;  // as stored
    unsigned long size;  // the bytes stored
    bool isEnd;
    unsigned long content = 0;  // what they unpack to
    bool compressed = false;
};
// A record as the listings show it.
VpackListed VpackListedOf(const CoreRecord& record);
// Walks the package with the digest check; a mismatch is 167. records (when set) gets every
// record, the end record included.
unsigned long VpackCheckPackage(const std::string& path, uint32_t offset, PackDigestCheck* check,
                                std::vector<VpackListed>* records, std::string* what);

// A file to pack: its path, its record name as stored, its size and identity.
struct VpackInput {
    std::string path, stored;
    uint64_t size = 0;
    VpackFileId id;
};
// Looks at every input before anything is written: it is a file, below 4 GiB, and its name is one
// the reader takes, in the stored code page.
unsigned long VpackPlanInputs(const std::vector<std::string>& paths, std::vector<VpackInput>* inputs,
                              std::string* what);
// The bytes one record of this name and size takes in a package.
uint64_t VpackRecordBytes(const std::string& storedName, uint64_t size);
// A stored record name as the client's file system compares it: ASCII letters in one case and /
// as \. A double-byte character (the stored code page's lead byte and its trail byte) stays as it
// is: its trail byte is no letter.
std::string VpackNameKey(const std::string& stored);
// kVpackErrName when two of inputs, or one of them and a record of existing, would be stored
// under names the client's file system takes for one (every client would fail with 165).
unsigned long VpackRefuseDuplicates(const std::vector<VpackInput>& inputs, const std::vector<VpackListed>& existing,
                                    std::string* what);
// kVpackErrSameFile when target is the same file as one of inputs, however spelt.
unsigned long VpackRefuseSameFile(const std::string& target, const std::vector<std::string>& inputs,
                                  std::string* what);

// A file being written: a temporary beside target, put in place by Commit; removed again when
// the command fails before that.
struct VpackOutput {
    std::string target, tmp;
    VpackFile file;
    VpackOutput() = default;
    VpackOutput(const VpackOutput&) = delete;
    VpackOutput& operator=(const VpackOutput&) = delete;
    ~VpackOutput();
    unsigned long Open(const std::string& path, std::string* what);
    unsigned long Put(const void* data, size_t len, std::string* what);
    unsigned long Commit(std::string* what);
};

// ---- vpack_compress.cpp: compressed records ----------------------------------------------------

// The level setup and assemble compress at, and --compress without --level: the highest at which
// 300 MB of programs compress well within a minute on a busy 2-core machine (38-44 s; 17 took 44 s,
// 18 52 s for 2 % and 7 % less). Against 9 it makes the package 5 % smaller for a stub's unpack
// a few per cent slower (interleaved runs under Wine: 166-206 ms against 159-200 ms for 64 MiB).
const int kVpackDefaultLevel = 16;
// A record is stored compressed only when its frame is at most this many hundredths of the file.
const uint64_t kVpackCompressWorth = 97;
// Above kVpackProbeAbove a file is first compressed at level 1 without keeping the frame, and
// stored as it is when that frame is above kVpackProbeWorth hundredths of it: content that does
// not compress (an installer that is compressed itself, archives, media) takes the high levels'
// match finders some thirty times as long as the level 1 pass, to no gain.
const int kVpackProbeAbove = 9;
const uint64_t kVpackProbeWorth = 99;
// Compresses the input file into spool as one zstd frame that declares its content size, with a
// window of at most 8 MiB: 0 with *frameLen, or an error number (166 when the file changed).
// Without spool the frame's length alone. stop (when set) ends the work early once it turns true:
// the result is then an error.
unsigned long VpackCompressFile(const VpackInput& in, int level, VpackFile* spool, uint64_t* frameLen,
                                std::string* what, const std::atomic<bool>* stop = nullptr);
// A file's frame, made before its record is written: a temporary beside the output, removed with
// this. Not made (the record is stored as it is) at level 0, for a file of a few bytes, when the
// level 1 probe finds that it does not compress, or when the frame would not save
// kVpackCompressWorth.
struct VpackFrame {
    VpackOutput spool;
    uint64_t len = 0;
    bool made = false;
};
// Makes in's frame at level beside target, read back from its start: 0 or an error number.
unsigned long VpackMakeFrame(const VpackInput& in, int level, const std::string& target, VpackFrame* frame,
                             std::string* what, const std::atomic<bool>* stop = nullptr);
// --store, --compress and --level N of the writing commands: 0 with *level (0: every record
// stored) or the usage exit status. byDefault: the command compresses unless told --store.
int VpackCompressionLevel(const char* command, const VpackArgs& args, bool byDefault, int* level);

// Package bytes into an output, with the running digest of what it wrote.
struct VpackPackageWriter {
    VpackOutput* out;
    VpackDigest digest;
    uint64_t written = 0;
    int level = 0;  // above 0: a record is compressed at this level where that saves 3 % or more
    explicit VpackPackageWriter(VpackOutput* o) : out(o) { digest.Begin(); }
    unsigned long Put(const void* data, size_t len, std::string* what);
    unsigned long Magic(std::string* what);
    // One record from the input file, streamed (compressed first into a temporary beside the
    // output when level is set); 166 when the file changed size.
    unsigned long Record(const VpackInput& in, std::string* what);
    // The record of in: its frame when one was made, else the file as it is.
    unsigned long Record(const VpackInput& in, VpackFrame* frame, std::string* what);
    // A record of each input in order, the same bytes as Record of one after the other; while one
    // is written, the frames of the next files are made on two threads (vpack_ahead.cpp). On
    // failure the error Record of one after the other would have stopped at (the first in the
    // inputs' order), and no temporary is left.
    unsigned long Records(const std::vector<VpackInput>& inputs, std::string* what);
    // The record stored as it is, and one whose content is the frame in spool.
    unsigned long StoredRecord(const VpackInput& in, std::string* what);
    unsigned long FrameRecord(const VpackInput& in, VpackFile* spool, uint64_t frameLen, std::string* what);
    // Every record of the package in path again, each through Record: its content unpacked into a
    // temporary beside the output first. 166 when the bytes before its end record no longer have
    // the BLAKE3 digest expected (the digest a check of it found).
    unsigned long Repack(const std::string& path, const DigestValue& expected, std::string* what);
    // The first len bytes of the package in path (from its start), which a walk found to have the
    // BLAKE3 digest expected; 166 when they do not any more.
    unsigned long Copy(const std::string& path, uint64_t len, const DigestValue& expected, std::string* what);
    // The end record with the digest of everything put so far (*value).
    unsigned long End(DigestValue* value, std::string* what);
};
