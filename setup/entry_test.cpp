// Start-up rules without a run: the exit code of each way to stop.
#include <gtest/gtest.h>

#include "setup/setup.h"

namespace {

// The numbers a deployment tool reads, in the Windows Installer's numbering: named here by
// winerror.h, the system's own list, not typed again. Under Wine the user is always an
// administrator and C: is the host's disk, so 740 and 112 are seen here only.
// Windows' ERROR_ELEVATION_REQUIRED, which MinGW's winerror.h does not name.
const DWORD kElevationRequired = 740;

TEST(Entry, EachStopHasItsInstallerExitCode)
{
    const struct {
        SetupStop why;
        DWORD code;
    } cases[] = {
        {kStopPreviousInstance, ERROR_INSTALL_ALREADY_RUNNING},   // 1618
        {kStopNoAdmin, kElevationRequired},
        {kStopTooLittleSpace, ERROR_DISK_FULL},                   // 112
        {kStopUpdaterBusy, ERROR_INSTALL_ALREADY_RUNNING},        // 1618
        {kStopCancelled, ERROR_INSTALL_USEREXIT},                 // 1602
        {kStopWrongPasswords, ERROR_INSTALL_PACKAGE_REJECTED},    // 1625
        {kStopPasswordUnasked, ERROR_INSTALL_PACKAGE_REJECTED},   // 1625
        {kStopNoInstanceEvent, ERROR_INSTALL_FAILURE},            // 1603
    };
    for (const auto& c : cases) EXPECT_EQ(SetupStopExitCode(c.why), c.code) << c.why;
}

}  // namespace
