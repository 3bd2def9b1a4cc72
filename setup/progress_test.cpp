// The progress window of an attended unpack, in this process: its bar's share, and that it shows
// only when the work outlasts the delay and is gone once stopped.
#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "setup/setup.h"
#include "setup/texts_testutil.h"
#include "testing/testutil.h"

namespace {

TEST(Progress, PercentOfTheBar)
{
    const struct {
        DWORD done, total;
        int percent;
    } cases[] = {
        {0, 0, 100},     {5, 0, 100},       {0, 100, 0},           {1, 100, 1},
        {99, 100, 99},   {100, 100, 100},   {150, 100, 100},       {0xFFFFFFFEu, 0xFFFFFFFFu, 99},
        {1, 3, 33},      {2, 3, 66},        {0x80000000u, 0xFFFFFFFFu, 50},
    };
    for (const auto& c : cases) EXPECT_EQ(ProgressPercent(c.done, c.total), c.percent) << c.done << "/" << c.total;
}

std::wstring WideText(HWND w)
{
    wchar_t text[256] = L"";
    InternalGetWindowText(w, text, 256);
    return text;
}

HWND FindProgress() { return FindWindowA("VemloSetupProgress", NULL); }

TEST(Progress, WindowOnlyAfterTheDelayAndGoneOnceStopped)
{
    // Stopped before its delay: nothing ever shows.
    SetupProgress quick = SetupProgress();
    ASSERT_TRUE(StartProgress(&quick, 1000, 300));
    StopProgress(&quick);  // its thread has ended when this returns: no window can come any more
    EXPECT_EQ(FindProgress(), nullptr);
    StopProgress(&quick);  // twice is harmless

    // The work ended before the delay: nothing shows, however long the stop then takes.
    SetupProgress unpacked = SetupProgress();
    ASSERT_TRUE(StartProgress(&unpacked, 1000, 200));
    ProgressUnpacked(&unpacked);
    // Told the unpack ended, the window's thread ends by itself, without StopProgress: no window
    // can come after that.
    EXPECT_EQ(WaitForSingleObject(unpacked.thread, 30000), WAIT_OBJECT_0);
    EXPECT_EQ(FindProgress(), nullptr);
    StopProgress(&unpacked);

    SetupProgress slow = SetupProgress();
    ASSERT_TRUE(StartProgress(&slow, 1000, 100));
    InterlockedExchangeAdd(&slow.bytesDone, 250);
    HWND window = NULL;
    // Made first, then shown: found once it is up.
    for (int i = 0; i < 200 && !((window = FindProgress()) && IsWindowVisible(window)); ++i) Sleep(20);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(IsWindowVisible(window));
    const bool chinese = vt::ChineseRun();
    char caption[128] = "";
    GetWindowTextA(window, caption, sizeof caption);
    EXPECT_STREQ(caption, gt::ExpectedSetupCaption(chinese));
    HWND text = FindWindowExA(window, NULL, "STATIC", NULL);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(WideText(text), chinese ? L"\u6B63\u5728\u51C6\u5907\u5B89\u88C5\u2026" : L"Preparing the installation\u2026");
    // Nobody closes it but the setup (the unpack cannot be cancelled half-way), and it stays up
    // after the unpack, until the installer is about to start.
    SendMessageA(window, WM_CLOSE, 0, 0);  // handled by the window's thread before it returns
    ProgressUnpacked(&slow);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(WaitForSingleObject(slow.thread, 0), (DWORD)WAIT_TIMEOUT);  // its thread goes on
    StopProgress(&slow);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(FindProgress(), nullptr);
}

}  // namespace
