// Hex dumps and the switches of VemloMngCenter.ini.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "log/log.h"
#include "testing/testutil.h"

int RunFromCopy(const std::string& dir, const std::string& child, const std::vector<std::string>& args);

namespace {

const std::string kLogDir = "c:\\VemloLog";
const unsigned char kTwenty[] = "Hello, world!\x00\x7f\xb0" "ABC\n";

// Made by hand (python3) for the 20 bytes above.
const std::string kTwentyDump =
    "00000000h:  48 65 6C 6C 6F 2C 20 77 6F 72 6C 64 21 00 7F B0 ;  Hello, world!...\r\n"
    "00000001h:  41 42 43 0A                                     ;  ABC.\r\n";

std::string LogOf(const std::string& tag) { return vt::ReadAll(kLogDir + "\\stp_" + tag + vt::TodayStamp() + ".log"); }

class Switches : public ::testing::Test {
protected:
    void SetUp() override
    {
        vt::RemoveTree(kLogDir);
        g_bLogDetail = 0;
    }
    void TearDown() override { g_bLogDetail = 0; }
};

TEST_F(Switches, DumpRowsAreNumberedAndAligned)
{
    char text[400] = "before|";
    ASSERT_EQ(bytes2String("dumpTest", kTwenty, 20, text, sizeof text), 1);
    EXPECT_EQ(std::string(text), "before|" + kTwentyDump);
    // 34 bytes: rows 0, 1, 2 (row numbers, not offsets); full rows are 81 characters.
    unsigned char many[34];
    for (int i = 0; i < 34; ++i) many[i] = (unsigned char)(0x30 + i);
    text[0] = '\0';
    ASSERT_EQ(bytes2String("dumpTest", many, 34, text, sizeof text), 1);
    auto rows = vt::SplitLines(text);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].substr(0, 12), "00000001h:  ");
    EXPECT_EQ(rows[2].substr(0, 12), "00000002h:  ");
    EXPECT_EQ(rows[0].size() + 2, 81u);
    EXPECT_EQ(rows[2], "00000002h:  50 51" + std::string(14 * 3 + 1, ' ') + ";  PQ");
}

TEST_F(Switches, DumpArgumentsAndEmptyInput)
{
    char text[100] = "keep";
    EXPECT_EQ(bytes2String("dumpTest", nullptr, 20, text, sizeof text), 0);
    EXPECT_EQ(bytes2String(nullptr, kTwenty, 20, text, sizeof text), 0);
    EXPECT_STREQ(text, "keep");
    EXPECT_EQ(bytes2String("dumpTest", kTwenty, 0, text, sizeof text), 1);
    EXPECT_STREQ(text, "keep");
    EXPECT_EQ(LogOf("dumpTest"), "");
}

TEST_F(Switches, DumpThatDoesNotFitKeepsWholeRowsAndSaysSo)
{
    // Room for the first row and its NUL only: 82 bytes.
    char text[200];
    memset(text, '#', sizeof text);
    text[0] = '\0';
    EXPECT_EQ(bytes2String("dumpTest", kTwenty, 20, text, 82), 1);
    EXPECT_EQ(std::string(text), kTwentyDump.substr(0, 81));
    EXPECT_EQ(text[82], '#');
    auto lines = vt::SplitLines(LogOf("dumpTest"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("] bytes2String got an exception."), std::string::npos) << lines[0];
}

TEST_F(Switches, LogBytesIsAnOrdinaryLineAndHonoursTheDetailGate)
{
    EXPECT_EQ(utl_LogBytes("dumpTest", kTwenty, 20, 1), 0);  // detail off: nothing at all
    EXPECT_FALSE(vt::Exists(kLogDir));
    EXPECT_EQ(utl_LogBytes("dumpTest", nullptr, 20, 0), 0);

    g_bLogDetail = 1;
    EXPECT_EQ(utl_LogBytes("dumpTest", kTwenty, 20, 1), 1);
    std::string log = LogOf("dumpTest");
    char thread[32];
    wsprintfA(thread, "[0x%x] \r\n", GetCurrentThreadId());
    ASSERT_GT(log.size(), 22u);
    EXPECT_EQ(log.substr(22), thread + kTwentyDump + "\r\n");  // no "[DTL] " marker
}

// Exit code: g_bLogDetail after utl_LoadLogDetail * 100 + LogDetail * 10 + bUpdEnabe.
VEMLO_CHILD(Switches)
{
    (void)argc;
    (void)argv;
    g_bLogDetail = 0;
    utl_LoadLogDetail();
    return g_bLogDetail * 100 + utl_GetLogDetail() * 10 + utl_GetUpdEnable();
}

TEST_F(Switches, SettingsFileBesideTheExecutable)
{
    std::string dir = vt::FreshDir("switches");
    EXPECT_EQ(RunFromCopy(dir, "Switches", {}), 0);  // no file: everything off
    vt::WriteAll(dir + "\\VemloMngCenter.ini", "[config]\r\nLogDetail=1\r\nbUpdEnabe=1\r\n");
    EXPECT_EQ(RunFromCopy(dir, "Switches", {}), 111);
    vt::WriteAll(dir + "\\VemloMngCenter.ini", "[config]\r\nLogDetail=0\r\nbUpdEnabe=1\r\n");
    EXPECT_EQ(RunFromCopy(dir, "Switches", {}), 1);
    vt::WriteAll(dir + "\\VemloMngCenter.ini", "[other]\r\nLogDetail=1\r\n");
    EXPECT_EQ(RunFromCopy(dir, "Switches", {}), 0);
}

}  // namespace
