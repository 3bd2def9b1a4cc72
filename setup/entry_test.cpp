// Start-up rules without a run: the exit code of each way to stop.
#include <gtest/gtest.h>

#include "setup/setup.h"

namespace {

// The numbers a deployment tool reads, in the Windows Installer's numbering (winerror.h). Under
// Wine the user is always an administrator and C: is the host's disk, so 740 and 112 are seen
// here only.
TEST(Entry, EachStopHasItsInstallerExitCode)
{
    const struct {
        SetupStop why;
        DWORD code;
    } cases[] = {
        {kStopPreviousInstance, 1618}, {kStopNoAdmin, 740},          {kStopTooLittleSpace, 112},
        {kStopUpdaterBusy, 1618},      {kStopCancelled, 1602},       {kStopWrongPasswords, 1625},
        {kStopPasswordUnasked, 1625},  {kStopNoInstanceEvent, 1603},
    };
    for (const auto& c : cases) EXPECT_EQ(SetupStopExitCode(c.why), c.code) << c.why;
}

}  // namespace
