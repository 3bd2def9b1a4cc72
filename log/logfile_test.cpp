// Log writers: file names, line format, weekday clean-up, detail gate, concurrent appenders.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "base/files.h"
#include "log/log.h"
#include "testing/testutil.h"

namespace {

const std::string kDir = "c:\\VemloLog";

std::string Hex(DWORD v)
{
    char b[16];
    wsprintfA(b, "%x", v);
    return b;
}

std::string DayFile(const std::string& stem) { return kDir + "\\" + stem + vt::TodayStamp() + ".log"; }
std::string Weekday() { return vt::TodayStamp().substr(8); }

class LogFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        vt::RemoveTree(kDir);
        g_bLogDetail = 0;
    }
    void TearDown() override { g_bLogDetail = 0; }
};

TEST_F(LogFiles, FirstLineCreatesDirectoryAndFileThenAppends)
{
    WriteSetupLog("hello");
    WriteSetupLog("");
    auto lines = vt::SplitLines(vt::ReadAll(DayFile("setup")));
    ASSERT_EQ(lines.size(), 2u);
    std::string thread = Hex(GetCurrentThreadId());
    std::regex head(R"(^\[(\d{4})-(\d\d)-(\d\d) \d\d:\d\d:\d\d\] )");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(lines[0], m, head)) << lines[0];
    // The stamp of the line and the date in the file name come from one clock reading.
    EXPECT_EQ(m[1].str() + m[2].str() + m[3].str(), vt::TodayStamp().substr(0, 8));
    EXPECT_EQ(lines[0].substr(22), "[" + thread + "] hello");
    EXPECT_EQ(lines[1].substr(22), "[" + thread + "] ");  // an empty message still makes a line
    std::string raw = vt::ReadAll(DayFile("setup"));
    EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
}

TEST_F(LogFiles, NewDayFileDeletesSameWeekdayOfEarlierWeeksOnly)
{
    vt::MakeDirs(kDir);
    std::string oldSame = kDir + "\\setup20000103" + Weekday() + ".log";
    std::string otherDay = kDir + "\\setup200001030" + std::to_string((Weekday()[1] - '0' + 1) % 7) + ".log";
    std::string otherWriter = kDir + "\\stp_UtlFile20000103" + Weekday() + ".log";
    vt::WriteAll(oldSame, "old");
    SetFileAttributesA(oldSame.c_str(), FILE_ATTRIBUTE_READONLY);
    vt::WriteAll(otherDay, "other");
    vt::WriteAll(otherWriter, "tag");

    WriteSetupLog("first");
    EXPECT_FALSE(vt::Exists(oldSame));
    EXPECT_TRUE(vt::Exists(otherDay));
    EXPECT_TRUE(vt::Exists(otherWriter));

    // A file planted after the day's file exists survives the second line of the day.
    vt::WriteAll(oldSame, "planted later");
    WriteSetupLog("second");
    EXPECT_TRUE(vt::Exists(oldSame));
    EXPECT_EQ(vt::SplitLines(vt::ReadAll(DayFile("setup"))).size(), 2u);
}

TEST_F(LogFiles, ReadOnlyDayFileLosesTheLineQuietly)
{
    vt::MakeDirs(kDir);
    vt::WriteAll(DayFile("setup"), "kept");
    SetFileAttributesA(DayFile("setup").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteSetupLog("lost");
    SetFileAttributesA(DayFile("setup").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(vt::ReadAll(DayFile("setup")), "kept");
}

TEST_F(LogFiles, DetailGateTouchesNothingWhenOff)
{
    utl_WriteLog("UtlFile", "x", 1);
    EXPECT_FALSE(vt::Exists(kDir));

    g_bLogDetail = 1;
    utl_WriteLog("UtlFile", "x", 1);
    utl_WriteLog("UtlFile", "y", 0);
    auto lines = vt::SplitLines(vt::ReadAll(DayFile("stp_UtlFile")));
    ASSERT_EQ(lines.size(), 2u);
    std::string thread = "[0x" + Hex(GetCurrentThreadId()) + "] ";
    EXPECT_EQ(lines[0].substr(22), "[DTL] " + thread + "x");
    EXPECT_EQ(lines[1].substr(22), thread + "y");
}

TEST_F(LogFiles, NamedLogHasPlainThreadText)
{
    utl_WriteNamedLog("IsCurUserAdmin", "Cannot open process token");
    auto lines = vt::SplitLines(vt::ReadAll(DayFile("IsCurUserAdmin")));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(22), "[" + Hex(GetCurrentThreadId()) + "] Cannot open process token");
}

TEST_F(LogFiles, PrefixedLineIsFormattedAndCutTo1023Characters)
{
    utl_LogLine("UtlLine", "f: ", "%s=%u", "n", 7u);
    utl_LogLine("UtlLine", nullptr, "%s", "bare");
    std::string rest(1500, 'r');
    utl_LogLine("UtlLine", "f: ", "%s", rest.c_str());
    auto lines = vt::SplitLines(vt::ReadAll(DayFile("stp_UtlLine")));
    ASSERT_EQ(lines.size(), 3u);
    std::string head = "[0x" + Hex(GetCurrentThreadId()) + "] ";
    EXPECT_EQ(lines[0].substr(22), head + "f: n=7");
    EXPECT_EQ(lines[1].substr(22), head + "bare");
    EXPECT_EQ(lines[2].substr(22), head + "f: " + std::string(1020, 'r'));
}

TEST_F(LogFiles, LongMessageIsWrittenWholeAndOverlongNamesAreDropped)
{
    std::string msg(5000, 'm');
    msg += "end";
    utl_WriteLog("UtlPack", msg.c_str(), 0);
    auto lines = vt::SplitLines(vt::ReadAll(DayFile("stp_UtlPack")));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 22 + 5 + Hex(GetCurrentThreadId()).size() + msg.size());

    std::string tag(300, 't');
    utl_WriteLog(tag.c_str(), "x", 0);  // the file name cannot be formed: the line is lost
    utl_WriteLog(nullptr, "x", 0);
    WriteSetupLog(nullptr);
    EXPECT_EQ(vt::List(kDir).size(), 1u);
}

TEST_F(LogFiles, LinkedLogFolderIsNotFollowed)
{
    std::string target = vt::FreshDir("logtarget");
    if (!vt::MakeFolderLink(kDir, target)) GTEST_SKIP() << "no folder links here";
    WriteSetupLog("redirected?");
    utl_WriteLog("UtlFile", "redirected?", 0);
    utl_WriteNamedLog("IsCurUserAdmin", "redirected?");
    EXPECT_TRUE(vt::List(target).empty());
    vt::RemoveFolderLink(kDir);
    EXPECT_FALSE(vt::Exists(kDir));
}

// A user plants today's file names as hard links to files of her choosing: no writer appends to
// them, in a session or not, and the lines of the other files still go out. A session looks at a
// refused file once: the link gone, its later lines still go nowhere, and the next session's do.
TEST_F(LogFiles, HardLinkedDayFileGetsNoLine)
{
    std::string victim = vt::FreshDir("log_victim") + "\\victim.bat";
    vt::MakeDirs(kDir);
    for (bool session : {false, true}) {
        vt::WriteAll(victim, "@echo victim\r\n");
        DeleteFileA(DayFile("setup").c_str());
        DeleteFileA(DayFile("stp_UtlFile").c_str());
        ASSERT_TRUE(CreateHardLinkA(DayFile("setup").c_str(), victim.c_str(), NULL)) << GetLastError();
        if (session) utl_BeginLogSession();
        WriteSetupLog("& echo planted");
        utl_WriteLog("UtlFile", "still written", 0);
        ASSERT_TRUE(DeleteFileA(DayFile("setup").c_str()));
        WriteSetupLog("after the link went");
        EXPECT_EQ(vt::Exists(DayFile("setup")), !session);
        if (session) utl_EndLogSession();
        EXPECT_EQ(vt::ReadAll(victim), "@echo victim\r\n") << session;
        EXPECT_EQ(vt::SplitLines(vt::ReadAll(DayFile("stp_UtlFile"))).size(), 1u) << session;
    }
    WriteSetupLog("after the session");
    EXPECT_EQ(vt::SplitLines(vt::ReadAll(DayFile("setup"))).size(), 1u);
}

VEMLO_CHILD(append_lines)
{
    if (argc < 2) return 2;
    int count = atoi(argv[1]);
    // "session": the day's file stays open between lines; every line still takes the lock.
    if (argc >= 3) utl_BeginLogSession();
    for (int i = 0; i < count; ++i) {
        char msg[64];
        wsprintfA(msg, "%s line %d", argv[0], i);
        WriteSetupLog(msg);
    }
    utl_EndLogSession();
    return 0;
}

TEST_F(LogFiles, TwoProcessesAppendingAtOnceLoseNoLine)
{
    const int kLines = 1000;
    HANDLE a = vt::StartChild("append_lines", {"A", std::to_string(kLines), "session"});
    HANDLE b = vt::StartChild("append_lines", {"B", std::to_string(kLines)});
    ASSERT_TRUE(a && b);
    HANDLE both[2] = {a, b};
    ASSERT_EQ(WaitForMultipleObjects(2, both, TRUE, 120000), WAIT_OBJECT_0);
    CloseHandle(a);
    CloseHandle(b);

    auto lines = vt::SplitLines(vt::ReadAll(DayFile("setup")));
    std::regex shape(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] \[[0-9a-f]+\] ([AB]) line (\d+)$)");
    std::set<std::string> seen;
    for (auto& l : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, shape)) << "torn line: " << l;
        seen.insert(m[1].str() + m[2].str());
    }
    EXPECT_EQ(lines.size(), 2u * kLines);
    EXPECT_EQ(seen.size(), 2u * kLines);
}

// The lock the writers take for each append: one byte far beyond any data.
VEMLO_CHILD(hold_log_lock)
{
    CreateDirectoryA(kDir.c_str(), NULL);
    HANDLE f = CreateFileA(DayFile("setup").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_ALWAYS, 0, NULL);
    OVERLAPPED ov = {};
    ov.Offset = 0xFFFFFFF0;
    ov.OffsetHigh = 0x7FFFFFFF;
    if (f == INVALID_HANDLE_VALUE || !LockFileEx(f, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &ov)) return 1;
    vt::WriteAll("C:\\vtest\\log_locked", "1");
    Sleep(argc > 0 ? (DWORD)atoi(argv[0]) : 60000);
    return 0;
}

TEST_F(LogFiles, ALockKeptByAnotherProcessNeitherLosesLinesNorStallsThem)
{
    vt::FreshDir("log_lock");
    DeleteFileA("C:\\vtest\\log_locked");
    HANDLE holder = vt::StartChild("hold_log_lock", {});
    ASSERT_TRUE(holder);
    for (int i = 0; i < 200 && !vt::Exists("C:\\vtest\\log_locked"); ++i) Sleep(50);
    ASSERT_TRUE(vt::Exists("C:\\vtest\\log_locked"));
    // The bound of the one wait, set for these writes (the product's is 500 ms).
    const DWORD kWait = 400;
    utl_SetLogLockWait(kWait);
    DWORD started = GetTickCount();
    for (int i = 0; i < 10; ++i) WriteSetupLog(("while locked " + std::to_string(i)).c_str());
    DWORD took = GetTickCount() - started;
    TerminateProcess(holder, 0);
    CloseHandle(holder);
    utl_SetLogLockWait(500);  // the product's bound again for the tests after this one
    EXPECT_EQ(vt::SplitLines(vt::ReadAll(DayFile("setup"))).size(), 10u);
    // The first line waited out the bound, on the same clock as the writer's...
    EXPECT_GE(took, kWait);
    // ...and the nine after it did not wait at all: ten waits would take 10 * kWait.
    EXPECT_LT(took, 8 * kWait);
}

TEST_F(LogFiles, LogFolderSwappedForALinkBetweenTwoLines)
{
    std::string target = vt::FreshDir("logtarget");
    vt::RemoveTree(kDir + ".old");
    for (bool session : {false, true}) {
        vt::RemoveTree(kDir);
        if (session) utl_BeginLogSession();
        WriteSetupLog("first");
        ASSERT_TRUE(MoveFileA(kDir.c_str(), (kDir + ".old").c_str()));
        if (!vt::MakeFolderLink(kDir, target)) GTEST_SKIP() << "no folder links here";
        WriteSetupLog("second");
        utl_WriteLog("UtlFile", "second", 0);
        // Nothing reaches the link's target; in a session the line goes to the file it holds.
        EXPECT_TRUE(vt::List(target).empty()) << session;
        if (session) utl_EndLogSession();
        std::string kept = vt::ReadAll(kDir + ".old\\setup" + vt::TodayStamp() + ".log");
        EXPECT_EQ(vt::SplitLines(kept).size(), session ? 2u : 1u);
        // The check behind it: a file opened through the link is not where its name says.
        vt::WriteAll(target + "\\t.log", "x");
        HANDLE f = CreateFileA((kDir + "\\t.log").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        EXPECT_EQ(utl_IsHandleAtPath(f, (kDir + "\\t.log").c_str()), 0);
        EXPECT_EQ(utl_IsHandleAtPath(f, (target + "\\T.LOG").c_str()), 1);
        CloseHandle(f);
        DeleteFileA((target + "\\t.log").c_str());
        vt::RemoveFolderLink(kDir);
        vt::RemoveTree(kDir + ".old");
    }
}

}  // namespace
