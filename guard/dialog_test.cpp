// Password dialog: the decision on each entry, and the real dialog from resource 134 driven by
// messages, with a watcher closing its final message box.
#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "guard/dialog_texts_testutil.h"
#include "guard/guard.h"
#include "log/log.h"
#include "testing/testutil.h"
#include "testing/watcher.h"

namespace {

// DES-ECB of "secret" under the password key, PKCS#5 padded, Base64 (computed with OpenSSL).
const char kStoredSecret[] = "yVkhk1/ESYo=";

class PasswordDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        vt::RemoveTree("c:\\VemloLog");
        g_nWrongPwdCount = 0;
        g_bExit = 0;
        lstrcpyA(g_szUninstallPass, kStoredSecret);
        dialog_ = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(134), NULL, ChkPwdDlgProc, 0);
        ASSERT_NE(dialog_, (HWND)NULL);
        zh_ = vt::ChineseRun();
        ASSERT_EQ(IsChineseSystem(), zh_);
    }
    void TearDown() override
    {
        if (dialog_) DestroyWindow(dialog_);
        Drain();
        ZeroMemory(g_szUninstallPass, sizeof g_szUninstallPass);
    }
    // Removes pending messages; true when a quit message was among them.
    bool Drain()
    {
        bool quit = false;
        MSG m;
        while (PeekMessageA(&m, NULL, 0, 0, PM_REMOVE)) {
            if (m.message == WM_QUIT) quit = true;
            else DispatchMessageA(&m);
        }
        return quit;
    }
    void Enter(const char* typed)
    {
        SetDlgItemTextA(dialog_, 1001, typed);
        SendMessageA(dialog_, WM_COMMAND, IDOK, 0);
    }
    std::string Item(int id) { return vt::WindowText(GetDlgItem(dialog_, id)); }
    bool RetryShown() { return IsWindowVisible(GetDlgItem(dialog_, 1002)) != 0; }
    std::vector<std::string> SetupLogLines()
    {
        return vt::SplitLines(vt::ReadAll("c:\\VemloLog\\setup" + vt::TodayStamp() + ".log"));
    }

    HWND dialog_ = NULL;
    bool zh_ = false;
};

// Every text of the dialog in both languages, against the written-out English and GBK bytes
// (the dialog tests below then check what the real dialog shows in this run's language).
TEST(PasswordCheck, TextsInBothLanguages)
{
    for (bool chinese : {false, true})
        for (PwdText t : {kPwdTxtCaption, kPwdTxtPrompt, kPwdTxtOk, kPwdTxtCancel, kPwdTxtRetry, kPwdTxtFinalCaption,
                          kPwdTxtFinalText})
            EXPECT_STREQ(PwdDialogText(t, chinese), gt::ExpectedPwdText(t, chinese)) << chinese << " " << t;
}

TEST(PasswordCheck, ComparesEncipheredTextExactlyAndCountsWrongTries)
{
    int wrong = 0;
    EXPECT_EQ(PwdCheckEntry("secret", 6, kStoredSecret, &wrong), kPwdAccepted);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(PwdCheckEntry("Secret", 6, kStoredSecret, &wrong), kPwdRetry);  // letter case counts
    EXPECT_EQ(PwdCheckEntry("", 0, kStoredSecret, &wrong), kPwdRetry);         // empty is just wrong
    EXPECT_EQ(wrong, 2);
    EXPECT_EQ(PwdCheckEntry("secret", 6, kStoredSecret, &wrong), kPwdAccepted);  // count is not reset
    EXPECT_EQ(wrong, 2);
    EXPECT_EQ(PwdCheckEntry("secre", 5, kStoredSecret, &wrong), kPwdFinal);
    // An empty stored password can never be typed: even the empty entry enciphers to text.
    int none = 0;
    EXPECT_EQ(PwdCheckEntry("", 0, "", &none), kPwdRetry);
}

TEST_F(PasswordDialog, OpensWithItsTextsAndLimits)
{
    EXPECT_EQ(vt::WindowText(dialog_), gt::ExpectedPwdText(kPwdTxtCaption, zh_));
    EXPECT_EQ(Item(-1) == gt::ExpectedPwdText(kPwdTxtPrompt, zh_) || Item(0xFFFF) == gt::ExpectedPwdText(kPwdTxtPrompt, zh_), true);
    EXPECT_EQ(Item(IDOK), gt::ExpectedPwdText(kPwdTxtOk, zh_));
    EXPECT_EQ(Item(IDCANCEL), gt::ExpectedPwdText(kPwdTxtCancel, zh_));
    EXPECT_FALSE(RetryShown());
    HWND edit = GetDlgItem(dialog_, 1001);
    EXPECT_EQ(SendMessageA(edit, EM_GETLIMITTEXT, 0, 0), 32);
    EXPECT_TRUE(GetWindowLongA(edit, GWL_STYLE) & ES_PASSWORD);
    EXPECT_EQ(GetFocus(), edit);
    EXPECT_FALSE(GetWindowLongA(dialog_, GWL_STYLE) & WS_SYSMENU);

    // Typing stops at 32 characters.
    for (int i = 0; i < 40; ++i) SendMessageA(edit, WM_CHAR, 'a' + i % 26, 0);
    EXPECT_EQ(GetWindowTextLengthA(edit), 32);
}

TEST_F(PasswordDialog, RightPasswordSetsExitLogsAndQuits)
{
    Enter("secret");
    EXPECT_EQ(g_bExit, 1);
    EXPECT_TRUE(Drain());
    auto lines = SetupLogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(lines[0].size() - 15), "g_bExit = TRUE;");
}

TEST_F(PasswordDialog, TwoWrongShowRetryThenThirdShowsFinalBox)
{
    HWND self = dialog_;
    vt::Watcher watcher([self](HWND w) {
        if (w == self) return false;  // the dialog itself is not the box we wait for
        vt::Watcher::PressOk(w);
        return true;
    });
    Enter("wrong1");
    EXPECT_TRUE(RetryShown());
    EXPECT_EQ(Item(1002), gt::ExpectedPwdText(kPwdTxtRetry, zh_));
    EXPECT_EQ(Item(1001), "");
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog_, 1001));
    EXPECT_FALSE(Drain());
    Enter("SECRET");
    EXPECT_TRUE(RetryShown());
    EXPECT_EQ(Item(1001), "");
    EXPECT_EQ(g_nWrongPwdCount, 2);
    EXPECT_TRUE(watcher.Seen().empty());

    Enter("secret!");  // third wrong: the box shows until the watcher presses OK
    ASSERT_TRUE(watcher.WaitFor(1, 10000));
    auto seen = watcher.Seen();
    EXPECT_EQ(seen[0].caption, gt::ExpectedPwdText(kPwdTxtFinalCaption, zh_));
    EXPECT_EQ(seen[0].text, gt::ExpectedPwdText(kPwdTxtFinalText, zh_));
    EXPECT_EQ(g_bExit, 0);
    EXPECT_TRUE(Drain());
    EXPECT_TRUE(SetupLogLines().empty());
}

TEST_F(PasswordDialog, CancelCloseAndEscapeEndWithoutExit)
{
    EXPECT_EQ(SendMessageA(dialog_, WM_COMMAND, IDCANCEL, 0), 0);  // DefDlgProc's result for commands
    EXPECT_TRUE(Drain());
    EXPECT_EQ(g_bExit, 0);

    SendMessageA(dialog_, WM_CLOSE, 0, 0);
    EXPECT_TRUE(Drain());
    EXPECT_EQ(g_bExit, 0);

    // Esc goes through the dialog manager as Cancel.
    MSG esc = {GetDlgItem(dialog_, 1001), WM_KEYDOWN, VK_ESCAPE, 0, 0, {0, 0}};
    EXPECT_TRUE(IsDialogMessageA(dialog_, &esc));
    EXPECT_TRUE(Drain());
    EXPECT_EQ(g_bExit, 0);
    EXPECT_EQ(g_nWrongPwdCount, 0);
}

TEST_F(PasswordDialog, EnterActsAsOk)
{
    SetDlgItemTextA(dialog_, 1001, "secret");
    MSG enter = {GetDlgItem(dialog_, 1001), WM_KEYDOWN, VK_RETURN, 0, 0, {0, 0}};
    IsDialogMessageA(dialog_, &enter);
    Drain();
    EXPECT_EQ(g_bExit, 1);
}

}  // namespace
