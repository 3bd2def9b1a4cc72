// Pre-flight checks: the free-space rule, the drive query, administrator rights, the texts.
#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "setup/setup.h"
#include "setup/texts_testutil.h"
#include "testing/testutil.h"

namespace {

TEST(Checks, FreeSpaceRuleAtFiftyMegabytes)
{
    int mb = -7;
    EXPECT_TRUE(IsFreeSpaceEnough(52428800LL, &mb));
    EXPECT_EQ(mb, 50);
    EXPECT_FALSE(IsFreeSpaceEnough(52428799LL, &mb));
    EXPECT_EQ(mb, 49);
    EXPECT_FALSE(IsFreeSpaceEnough(0, &mb));
    EXPECT_EQ(mb, 0);
    EXPECT_TRUE(IsFreeSpaceEnough(-1, &mb));  // unknown passes, logged as 0
    EXPECT_EQ(mb, 0);
    EXPECT_TRUE(IsFreeSpaceEnough(5LL * 1024 * 1024 * 1024 * 1024, &mb));  // 5 TiB
    EXPECT_EQ(mb, 5 * 1024 * 1024);
}

TEST(Checks, DriveQueryAndAdministrator)
{
    EXPECT_GT(GetFreeDiskSpace("C:"), 0);
    EXPECT_EQ(GetFreeDiskSpace("Q:\\no\\such\\drive"), -1);
    EXPECT_EQ(IsCurUserAdmin(), 1);  // Wine's user holds the Administrators group
}

// This process's token with the Administrators group kept for deny only, as a filtered token
// has it (CreateRestrictedToken), ready for impersonation. NULL when the system cannot make one.
HANDLE DenyOnlyAdministratorsToken()
{
    HANDLE process = NULL, restricted = NULL, impersonation = NULL;
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    SID_AND_ATTRIBUTES disable = {sid, 0};
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process) &&
        CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, sid, &size) &&
        CreateRestrictedToken(process, 0, 1, &disable, 0, NULL, 0, NULL, &restricted))
        DuplicateToken(restricted, SecurityImpersonation, &impersonation);
    if (restricted) CloseHandle(restricted);
    if (process) CloseHandle(process);
    return impersonation;
}

// The group is still listed in a filtered token, marked for deny only: it must not count.
TEST(Checks, DenyOnlyAdministratorsGroupIsNoAdministrator)
{
    HANDLE token = DenyOnlyAdministratorsToken();
    if (!token) GTEST_SKIP() << "no restricted tokens here";
    ASSERT_TRUE(SetThreadToken(NULL, token));
    int underFiltered = IsCurUserAdmin();
    RevertToSelf();
    CloseHandle(token);
    EXPECT_EQ(underFiltered, 0);
    EXPECT_EQ(IsCurUserAdmin(), 1);  // and the token itself is an administrator's again
}

// Every text of the boxes and the progress window, in both languages, against the written-out
// English and GBK bytes: a typo, a swap or a wrong encoding fails here.
TEST(Checks, MessagesInBothLanguages)
{
    for (bool chinese : {false, true}) {
        EXPECT_STREQ(SetupCaption(chinese), gt::ExpectedSetupCaption(chinese)) << chinese;
        for (SetupMessage m : {kMsgPreviousInstance, kMsgNoAdmin, kMsgTooLittleSpace, kMsgUpdaterBusy})
            EXPECT_STREQ(SetupMessageText(m, chinese), gt::ExpectedSetupMessage(m, chinese)) << chinese << " " << m;
        EXPECT_STREQ(SetupHelpText(chinese), gt::ExpectedSetupHelp(chinese)) << chinese;
        EXPECT_STREQ(SetupProgressText(chinese), gt::ExpectedSetupProgress(chinese)) << chinese;
    }
    // The updater text differs from the previous-instance one only in Chinese.
    EXPECT_STREQ(gt::ExpectedSetupMessage(kMsgUpdaterBusy, false), gt::ExpectedSetupMessage(kMsgPreviousInstance, false));
    EXPECT_STRNE(gt::ExpectedSetupMessage(kMsgUpdaterBusy, true), gt::ExpectedSetupMessage(kMsgPreviousInstance, true));
    EXPECT_EQ(IsChineseSystem(), vt::ChineseRun());
}

}  // namespace
