// The size of a file, and the log line of a failed query.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "log/log.h"
#include "testing/testutil.h"

namespace {

std::string Sub(const std::string& dir, const std::string& name) { return dir + "\\" + name; }

TEST(Files, GetFileSizeReportsHalvesOrLeavesOutputs)
{
    std::string d = vt::FreshDir("size");
    DWORD hi = 7, lo = 7;
    EXPECT_EQ(utl_GetFileSize(Sub(d, "missing").c_str(), &hi, &lo), 0);
    EXPECT_EQ(hi, 7u);
    EXPECT_EQ(lo, 7u);
    vt::WriteAll(Sub(d, "five"), "12345");
    EXPECT_EQ(utl_GetFileSize(Sub(d, "five").c_str(), &hi, &lo), 1);
    EXPECT_EQ(hi, 0u);
    EXPECT_EQ(lo, 5u);
    // Beyond 4 GiB: a sparse-free way is to set the end of file without writing.
    HANDLE h = CreateFileA(Sub(d, "big").c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER at;
    at.QuadPart = 0x100000005LL;
    SetFilePointerEx(h, at, NULL, FILE_BEGIN);
    const BOOL grown = SetEndOfFile(h);
    const DWORD error = GetLastError();
    CloseHandle(h);
    ASSERT_TRUE(grown) << "a file of 4 GiB + 5 bytes cannot be made here, error " << error;
    EXPECT_EQ(utl_GetFileSize(Sub(d, "big").c_str(), &hi, &lo), 1);
    EXPECT_EQ(hi, 1u);
    EXPECT_EQ(lo, 5u);
    DeleteFileA(Sub(d, "big").c_str());
}

TEST(Files, GetFileSizeFailureIsLoggedAsOrdinaryLine)
{
    // A wildcard passes the file search but not the attribute query.
    std::string d = vt::FreshDir("sizefail");
    vt::WriteAll(Sub(d, "a.txt"), "x");
    vt::RemoveTree("c:\\VemloLog");
    g_bLogDetail = 0;
    DWORD hi = 1, lo = 1;
    EXPECT_EQ(utl_GetFileSize(Sub(d, "*.txt").c_str(), &hi, &lo), 0);
    EXPECT_EQ(hi, 1u);
    EXPECT_EQ(lo, 1u);
    auto lines = vt::SplitLines(vt::ReadAll("c:\\VemloLog\\stp_UtlFile" + vt::TodayStamp() + ".log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_search(lines[0], std::regex(
        R"(\] \[0x[0-9a-f]+\] utl_GetFileSize: GetFileAttributesEx failed with err\.\d+\.$)"))) << lines[0];
}

}  // namespace
