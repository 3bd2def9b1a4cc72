// vpack: build, inspect and unpack Vemlo packages and the client's stored formats.
#include "tools/vpack.h"

#include <cstdio>
#include <cstring>
#include <vector>

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

void Help(FILE* out)
{
    std::fprintf(out, "usage: vpack COMMAND [ARGS...]   (vpack COMMAND --help for one command)\n\n");
    for (const auto& c : Table()) std::fprintf(out, "  %-50s %s\n", c.usage, c.summary);
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
    for (int i = 0; i < argc; ++i)
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) return true;
    return false;
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
    const VpackCommand* c = Find(argv[1]);
    if (!c) {
        std::fprintf(stderr, "vpack: unknown command '%s'\n", argv[1]);
        Help(stderr);
        return 2;
    }
    if (VpackWantsHelp(argc - 2, argv + 2)) {
        std::printf("usage: %s\n  %s\n", c->usage, c->summary);
        return 0;
    }
    return c->run(argc - 2, argv + 2);
}
