// vpack: build, inspect and unpack Vemlo packages and the client's stored formats. This file owns
// the command line: the command table, help, version and the option conventions every command
// follows (unknown options refused, "--" ends them).
#include "tools/vpack.h"
#include "vpack_libraries.h"  // VPACK_LIBRARIES: the libraries linked, made by cmake/Kit.cmake

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifndef VPACK_VERSION
#define VPACK_VERSION "unknown"
#endif

namespace {

std::vector<VpackCommand>& Table()
{
    static std::vector<VpackCommand> table;
    return table;
}

const VpackCommand* Find(const char* name)
{
    for (const auto& c : Table())
        if (std::strcmp(c.name, name) == 0) return &c;
    return nullptr;
}

// Prints text from column indent, wrapped at word breaks to stay within 80 columns.
void Wrapped(FILE* out, const char* text, int indent)
{
    const int width = 79 - indent;
    while (*text) {
        int len = (int)std::strlen(text), cut = len;
        if (len > width) {
            cut = width;
            while (cut > 0 && text[cut] != ' ') --cut;
            if (cut == 0) cut = width;
        }
        std::fprintf(out, "%*s%.*s\n", indent, "", cut, text);
        text += cut;
        while (*text == ' ') ++text;
    }
}

// The order of the help: a release is made with the first ones, most often with setup alone.
int Rank(const char* name)
{
    static const char* const kOrder[] = {"setup", "assemble", "create", "append", "close", "list", "extract",
                                         "encrypt-pwd", "decrypt-pwd", "sign", "verify", "md5", "uninstall-check"};
    for (int i = 0; i < (int)(sizeof kOrder / sizeof kOrder[0]); ++i)
        if (std::strcmp(kOrder[i], name) == 0) return i;
    return 100;
}

void Help(FILE* out)
{
    std::sort(Table().begin(), Table().end(),
                     [](const VpackCommand& a, const VpackCommand& b) { return Rank(a.name) < Rank(b.name); });
    std::fprintf(out, "usage: vpack COMMAND [ARGS...]  (vpack COMMAND --help for one command)\n"
                      "       vpack --version\n");
    static const char* const kGroups[] = {"", "make a release", "inspect", "stored formats"};
    for (int group = 1; group <= 3; ++group) {
        std::fprintf(out, "\n%s:\n", kGroups[group]);
        for (const auto& c : Table()) {
            if (c.group != group) continue;
            Wrapped(out, c.usage + 6, 2);  // without "vpack "
            Wrapped(out, c.summary, 6);
        }
    }
}

bool InList(const char* const* list, const char* name)
{
    for (; list && *list; ++list)
        if (std::strcmp(*list, name) == 0) return true;
    return false;
}

}  // namespace

VpackRegistrar::VpackRegistrar(const VpackCommand& command) { Table().push_back(command); }

int VpackUsage(const char* name)
{
    const VpackCommand* c = Find(name);
    std::fprintf(stderr, "usage: %s\n", c ? c->usage : "vpack COMMAND [ARGS...]");
    return 2;
}

int VpackFail(const char* text)
{
    std::fprintf(stderr, "vpack: %s\n", text);
    return 1;
}

bool VpackWantsHelp(int argc, char** argv)
{
    for (int i = 0; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) return true;
    return false;
}

bool VpackArgs::Has(const char* name) const { return Value(name) != nullptr; }

const char* VpackArgs::Value(const char* name) const
{
    for (const auto& o : options)
        if (o.first == name) return o.second.c_str();
    return nullptr;
}

bool VpackParse(const char* command, int argc, char** argv, const char* const* flags, const char* const* valued,
                VpackArgs* out)
{
    bool operands = false;
    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        if (operands || a[0] != '-' || a[1] == '\0') {
            out->pos.push_back(a);
        } else if (std::strcmp(a, "--") == 0) {
            operands = true;
        } else if (InList(flags, a)) {
            out->options.push_back({a, ""});
        } else if (InList(valued, a) && i + 1 < argc) {
            // An option given twice names two things where the command takes one: neither is guessed.
            if (out->Has(a)) {
                std::fprintf(stderr, "vpack %s: %s given twice\n", command, a);
                VpackUsage(command);
                return false;
            }
            out->options.push_back({a, argv[++i]});
        } else {
            if (!InList(valued, a)) std::fprintf(stderr, "vpack %s: unknown option %s\n", command, a);
            VpackUsage(command);
            return false;
        }
    }
    return true;
}

int VpackApplyCodepage(const char* command, const VpackArgs& args)
{
    const char* text = args.Value("--codepage");
    if (!text) return 0;
    char* end = nullptr;
    unsigned long cp = std::strtoul(text, &end, 10);
    if (!*text || *end) return VpackUsage(command);
    std::string why;
    if (!VpackSetCodepage(cp, &why)) return VpackFail(("--codepage " + std::string(text) + ": " + why).c_str());
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        Help(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        Help(stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("vpack %s\n%s", VPACK_VERSION, VPACK_LIBRARIES);
        return 0;
    }
    const VpackCommand* c = Find(argv[1]);
    if (!c) {
        std::fprintf(stderr, "vpack: unknown command '%s'\n", argv[1]);
        Help(stderr);
        return 2;
    }
    if (VpackWantsHelp(argc - 2, argv + 2)) {
        std::printf("usage: %s\n", c->usage);
        Wrapped(stdout, c->summary, 2);
        return 0;
    }
    std::string problem = VpackArgumentProblem(argc - 1, argv + 1);
    if (!problem.empty()) return VpackFail(problem.c_str());
    VpackCatchInterrupts();
    int rc = c->run(argc - 2, argv + 2);
    VpackEndInterrupted();
    return rc;
}
