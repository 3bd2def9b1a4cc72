// Bounded text helpers: the 259-character path rule and truncation without overrun.
#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "testing/testutil.h"

TEST(Text, JoinPathFitsExactlyOrRefusesUntouched)
{
    char out[260];
    std::string dir(200, 'd');
    std::string name58(58, 'n');  // 200 + 1 + 58 = 259: the longest path
    ASSERT_EQ(utl_JoinPath(out, sizeof out, dir.c_str(), name58.c_str()), 1);
    EXPECT_EQ(std::string(out), dir + "\\" + name58);

    memset(out, 'x', sizeof out);
    std::string name59(59, 'n');
    EXPECT_EQ(utl_JoinPath(out, sizeof out, dir.c_str(), name59.c_str()), 0);
    EXPECT_EQ(out[0], 'x');
    EXPECT_EQ(utl_JoinPath(out, sizeof out, nullptr, "a"), 0);
}

TEST(Text, FormatAndAppendTruncateInsideTheBuffer)
{
    char guard[12];
    memset(guard, '#', sizeof guard);
    EXPECT_EQ(utl_Format(guard, 8, "%s-%u", "abcdef", 42u), 7);
    EXPECT_STREQ(guard, "abcdef-");
    EXPECT_EQ(guard[8], '#');

    char big[2000];
    std::string huge(1500, 'h');
    EXPECT_EQ(utl_Format(big, sizeof big, "%s", huge.c_str()), 1024);  // wsprintf's own cap

    char buf[8] = "ab";
    EXPECT_EQ(utl_Append(buf, sizeof buf, "cde"), 1);
    EXPECT_EQ(utl_Append(buf, sizeof buf, "fghij"), 0);
    EXPECT_STREQ(buf, "abcdefg");
}

TEST(Text, LastBackslashSkipsTrailBytesOfDoubleByteCharacters)
{
    EXPECT_EQ(utl_FindLastBackslash(nullptr), nullptr);
    EXPECT_EQ(utl_FindLastBackslash("no separator"), nullptr);
    const char plain[] = "C:\\a\\b.exe";
    EXPECT_EQ(utl_FindLastBackslash(plain), plain + 4);
    // 0x81 0x5C is one GBK character whose second byte is the code of a backslash; in code
    // page 1252 they are two characters, the second a backslash.
    ASSERT_EQ(GetACP(), vt::ExpectedCodePage());
    const char gbk[] = "C:\\dir\\\x81\x5C.exe";
    EXPECT_EQ(utl_FindLastBackslash(gbk), vt::ChineseRun() ? gbk + 6 : gbk + 8);
}

TEST(Text, CutAtLastBackslashKeepsOrDropsTheSeparator)
{
    struct Row {
        const char* path;
        int keep;
        bool cut;  // false: no backslash, the text stays as it was
        const char* after;
    };
    const Row rows[] = {
        {"C:\\a\\b.txt", 1, true, "C:\\a\\"},
        {"C:\\a\\b.txt", 0, true, "C:\\a"},
        {"C:\\a\\", 0, true, "C:\\a"},
        {"file.txt", 1, false, "file.txt"},
        {"", 1, false, ""},
    };
    for (const Row& row : rows) {
        char buf[32];
        lstrcpyA(buf, row.path);
        EXPECT_EQ(utl_CutAtLastBackslash(buf, row.keep), row.cut ? buf : nullptr) << row.path;
        EXPECT_STREQ(buf, row.after) << row.path;
    }
    EXPECT_EQ(utl_CutAtLastBackslash(nullptr, 1), nullptr);

    // Under code page 936 (the zh. run) the trail byte 0x5C of a GBK character is no separator;
    // under 1252 it is one.
    ASSERT_EQ(GetACP(), vt::ExpectedCodePage());
    char gbk[] = "C:\\dir\\\x81\x5C.exe";
    EXPECT_EQ(utl_CutAtLastBackslash(gbk, 0), gbk);
    EXPECT_STREQ(gbk, vt::ChineseRun() ? "C:\\dir" : "C:\\dir\\\x81");
}
