// The record-name rule: which names stay inside the destination folder, by behaviour.
#include <gtest/gtest.h>

#include <cstring>

#include "core/record_name.h"

namespace {

// Lead bytes of code page 936 (0x81..0xFE).
int Gbk(uint8_t b) { return b >= 0x81 && b <= 0xFE; }

struct NameCase {
    const char* name;
    int gbk;   // 1: opened under code page 936
    int safe;
};

TEST(CoreRecordName, Table)
{
    const NameCase cases[] = {
        // Plain names and subfolders.
        {"VemloSetup.exe", 0, 1}, {"bin\\x.dll", 0, 1}, {"a/b/c.txt", 0, 1}, {"...x", 0, 1},
        {"cons.txt", 0, 1}, {"COM10", 0, 1}, {"LPT", 0, 1}, {"CONINX", 0, 1},
        // Leaving the folder, or rooted anywhere.
        {"..\\x", 0, 0}, {"a\\..\\..\\x", 0, 0}, {"\\x", 0, 0}, {"/x", 0, 0}, {"C:x", 0, 0},
        {"a\\\\b", 0, 0}, {"a\\", 0, 0}, {".", 0, 0}, {"x.", 0, 0}, {"x ", 0, 0}, {"a.\\b", 0, 0},
        // Forbidden bytes.
        {"a<b", 0, 0}, {"a>b", 0, 0}, {"a\"b", 0, 0}, {"a|b", 0, 0}, {"a?b", 0, 0}, {"a*b", 0, 0},
        {"a\tb", 0, 0}, {"a\x1f", 0, 0},
        // Device names in any letter case, with or without an extension or trailing blanks.
        {"CON", 0, 0}, {"prn.txt", 0, 0}, {"con.txt.bak", 0, 0}, {"aux .log", 0, 0}, {"x\\nul", 0, 0}, {"com1", 0, 0},
        {"LPT9.x", 0, 0}, {"COM\xb9", 0, 0}, {"conin$", 0, 0}, {"CONOUT$.a", 0, 0},
        // Double-byte names: a 0x5C trail byte is no separator; a broken character is refused.
        {"\xb1\x5c.txt", 1, 1}, {"\xb9\xdc\xc0\xed\\a", 1, 1}, {"\xb1\x5c", 0, 0}, {"a\xb1", 1, 0},
        {"\xb1\x3f", 1, 0}, {"\xb1\x5c.", 1, 0},
    };
    for (const NameCase& c : cases)
        EXPECT_EQ(core_IsSafeRecordName(c.name, (uint32_t)strlen(c.name), c.gbk ? Gbk : nullptr), c.safe)
            << c.name;
}

TEST(CoreRecordName, LengthIsTakenNotTheTerminator)
{
    EXPECT_EQ(core_IsSafeRecordName("a\0b", 3, nullptr), 0);  // an embedded NUL
    EXPECT_EQ(core_IsSafeRecordName("ab..", 2, nullptr), 1);  // only the first two bytes count
    EXPECT_EQ(core_IsSafeRecordName("", 0, nullptr), 0);
    EXPECT_EQ(core_IsSafeRecordName(nullptr, 3, nullptr), 0);
}

}  // namespace
