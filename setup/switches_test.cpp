// Setup's own switches: which words of a command line make the run unattended or ask for help.
#include <gtest/gtest.h>

#include "setup/setup.h"

namespace {

TEST(Switches, WholeWordsWithSlashOrDashInAnyCase)
{
    const struct {
        const char* commandLine;
        bool unattended, help;
    } cases[] = {
        {nullptr, false, false},      {"", false, false},           {"/S", true, false},
        {"/s", true, false},          {"/quiet", true, false},      {"/QUIET", true, false},
        {"\t/S ", true, false},       {"/D=C:\\x /S", true, false}, {"/S /D=C:\\x", true, false},
        {"-S", true, false},          {"-Quiet", true, false},      {"/Silent", false, false},
        {"/SS", false, false},        {"x/S", false, false},        {"/q", false, false},
        {"/quietly", false, false},   {"--S", false, false},        {"S", false, false},
        {"/", false, false},          {"-", false, false},          {"/?", false, true},
        {"-?", false, true},          {"/h", false, true},          {"-H", false, true},
        {"/help", false, true},       {"-HeLp", false, true},       {"/S /?", true, true},
        {"-help -quiet", true, true}, {"/??", false, false},        {"/helps", false, false},
        {"--help", false, false},     {"a/?", false, false},        {"/hh", false, false},
    };
    for (const auto& c : cases) {
        SetupSwitches s = ReadSwitches(c.commandLine);
        const char* shown = c.commandLine ? c.commandLine : "(null)";
        EXPECT_EQ(s.unattended, c.unattended) << shown;
        EXPECT_EQ(s.help, c.help) << shown;
        EXPECT_EQ(IsUnattended(c.commandLine), c.unattended) << shown;
    }
}

}  // namespace
