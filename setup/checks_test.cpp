// Pre-flight checks: the free-space rule, the drive query, administrator rights, the texts.
#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "setup/setup.h"

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

TEST(Checks, MessagesInBothLanguages)
{
    EXPECT_STREQ(SetupCaption(false), "Vemlo Setup");
    EXPECT_STREQ(SetupCaption(true), "\xB0\xB2\xD7\xB0Vemlo\xD6\xC7\xC4\xDC\xBF\xCD\xBB\xA7\xB6\xCB");
    EXPECT_STREQ(SetupMessageText(kMsgPreviousInstance, false),
                 "A previous instance is still running. \nPlease try it later.");
    EXPECT_STREQ(SetupMessageText(kMsgUpdaterBusy, false), SetupMessageText(kMsgPreviousInstance, false));
    EXPECT_STREQ(SetupMessageText(kMsgNoAdmin, false),
                 "You do not have administrative privileges on this computer, the program can not be installed!");
    EXPECT_STREQ(SetupMessageText(kMsgTooLittleSpace, false),
                 "The disk C must have at least 50M free space to finish the setup.");
    EXPECT_STREQ(SetupMessageText(kMsgPreviousInstance, true),
                 "\xD3\xD0\xD5\xFD\xD4\xDA\xD4\xCB\xD0\xD0\xB5\xC4\xBF\xCD\xBB\xA7\xB6\xCB\xB0\xB2\xD7\xB0"
                 "\xB3\xCC\xD0\xF2\xA3\xAC\xC7\xEB\xC9\xD4\xBA\xF2\xD4\xD9\xCA\xD4\xA1\xA3");
    EXPECT_STREQ(SetupMessageText(kMsgNoAdmin, true),
                 "\xC4\xFA\xC3\xBB\xD3\xD0\xB9\xDC\xC0\xED\xD4\xB1\xC8\xA8\xCF\xDE\xA3\xAC\xCE\xDE\xB7\xA8"
                 "\xBD\xF8\xD0\xD0\xB0\xB2\xD7\xB0\xB2\xD9\xD7\xF7\xA3\xA1");
    EXPECT_STREQ(SetupMessageText(kMsgTooLittleSpace, true),
                 "\x43\xC5\xCC\xBF\xD5\xBC\xE4\xB2\xBB\xD7\xE3\xA3\xAC\xB0\xB2\xD7\xB0\xD2\xAA\xC7\xF3\x43"
                 "\xC5\xCC\xB1\xD8\xD0\xEB\xD3\xD0\x35\x30\x4D\xD2\xD4\xC9\xCF\xB5\xC4\xBF\xD5\xBC\xE4\xA1\xA3");
    EXPECT_STREQ(SetupMessageText(kMsgUpdaterBusy, true),
                 "\xBF\xCD\xBB\xA7\xB6\xCB\xD5\xFD\xD4\xDA\xC9\xFD\xBC\xB6\xB6\xA8\xD6\xC6\xD0\xC5\xCF\xA2"
                 "\xA3\xAC\xC7\xEB\xC9\xD4\xBA\xF3\xD4\xD9\xCA\xD4\xA1\xA3");
    // The updater text differs from the previous-instance one only in Chinese.
    EXPECT_STRNE(SetupMessageText(kMsgUpdaterBusy, true), SetupMessageText(kMsgPreviousInstance, true));
    EXPECT_EQ(IsChineseSystem(), LOWORD(GetSystemDefaultLangID()) == 0x0804);
}

}  // namespace
