// vpack: the command table. Each vpack_*.cpp registers its commands with VPACK_COMMAND.
#pragma once

#include <string>
#include <vector>

#include "tools/vpack_io.h"

// A command gets the arguments after its name; it returns the exit status:
// 0 success, 1 failure (one line "vpack: ..." on standard error), 2 wrong usage.
using VpackRun = int (*)(int argc, char** argv);

struct VpackCommand {
    const char* name;
    const char* usage;    // "vpack list PACKAGE [--offset N]"
    const char* summary;  // one line for the help text
    VpackRun run;
};

struct VpackRegistrar {
    explicit VpackRegistrar(const VpackCommand& command);
};

#define VPACK_COMMAND(ident, name, usage, summary)                                         \
    static int VpackRun_##ident(int argc, char** argv);                                    \
    static VpackRegistrar vpackReg_##ident({name, usage, summary, &VpackRun_##ident});     \
    static int VpackRun_##ident(int argc, char** argv)

// Prints "usage: <usage>" of the named command on standard error and returns 2.
int VpackUsage(const char* name);
// Prints "vpack: <text>" on standard error and returns 1.
int VpackFail(const char* text);
// True when the arguments ask for help ("-h" or "--help" anywhere).
bool VpackWantsHelp(int argc, char** argv);

// ---- Shared by the package and setup commands -------------------------------------------------

// Where a setup executable carries its package: the stub's image is padded to this size.
const unsigned long kVpackStubImage = 307200;
// Prints "vpack: error N: <meaning> (<what>)" on standard error and returns 1.
int VpackFailWith(unsigned long code, const std::string& what = "");
// "digest: ok BLAKE3 <hex>" (or "digest: ok XXH3-64 <hex>" for a package closed by an older
// vpack), "digest: none" or "digest: mismatch (...)".
std::string VpackDigestText(const PackDigestCheck& check);
// The value in lower-case hex, as b3sum (or xxhsum -H3) prints it.
std::string VpackDigestHex(const DigestValue& v);
std::string VpackHex64(unsigned long long v);
