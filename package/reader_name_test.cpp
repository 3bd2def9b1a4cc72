// The record-name rule: which packed names may be joined to the destination folder.
#include <gtest/gtest.h>

#include <string>

#include "package/package.h"

namespace {

// Lead bytes of code page 936 (GBK): 0x81-0xFE.
int GbkLead(BYTE b) { return b >= 0x81 && b <= 0xFE; }

struct Case {
    std::string name;
    int singleByte;  // verdict in a single-byte code page
    int gbk;         // verdict in code page 936
};

int Check(const std::string& n, int (*lead)(BYTE))
{
    return utl_IsSafeRecordName(n.data(), static_cast<DWORD>(n.size()), lead);
}

void RunTable(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        EXPECT_EQ(Check(c.name, nullptr), c.singleByte) << "single-byte: " << c.name;
        EXPECT_EQ(Check(c.name, GbkLead), c.gbk) << "GBK: " << c.name;
    }
}

TEST(RecordName, PlainNamesAndSubfolderNamesPass)
{
    RunTable({
        {"a.txt", 1, 1},
        {"VemloSetup.exe", 1, 1},
        {"ulmApxSvr.exe", 1, 1},
        {"^Vemlo_end^", 1, 1},
        {"a b.txt", 1, 1},
        {".profile", 1, 1},
        {"a..b", 1, 1},
        {"console.txt", 1, 1},
        {"COM10", 1, 1},
        {"sub\\a.txt", 1, 1},
        {"sub/a.txt", 1, 1},
        {"sub\\deeper\\a.txt", 1, 1},
        {std::string(64, 'x'), 1, 1},
    });
}

TEST(RecordName, NamesThatLeaveTheFolderAreRefused)
{
    RunTable({
        {"..", 0, 0},
        {".", 0, 0},
        {"..\\x", 0, 0},
        {"../x", 0, 0},
        {"a\\..\\..\\x", 0, 0},
        {"a/../../x", 0, 0},
        {"sub\\..", 0, 0},
        {"\\x", 0, 0},
        {"/x", 0, 0},
        {"\\\\server\\share\\x", 0, 0},
        {"C:\\x", 0, 0},
        {"C:x", 0, 0},
        {"x:y", 0, 0},
        {"a.txt:stream", 0, 0},
        // The platform strips trailing dots and blanks: ".. " and "..." would become "..".
        {".. ", 0, 0},
        {"...", 0, 0},
        {"..\\ ", 0, 0},
        {"x.", 0, 0},
        {"x ", 0, 0},
    });
}

TEST(RecordName, EmptyBrokenAndDeviceNamesAreRefused)
{
    RunTable({
        {"", 0, 0},
        {"a\\\\b", 0, 0},
        {"a\\", 0, 0},
        {"a\\.\\b", 0, 0},
        {std::string("a\0b", 3), 0, 0},
        {"a\tb", 0, 0},
        {"a*b", 0, 0},
        {"a?b", 0, 0},
        {"a<b", 0, 0},
        {"a>b", 0, 0},
        {"a\"b", 0, 0},
        {"NUL", 0, 0},
        {"nul.txt", 0, 0},
        {"Con", 0, 0},
        {"CON .log", 0, 0},
        {"COM1", 0, 0},
        {"lpt9.log", 0, 0},
        {"COM\xB9", 0, 0},
        {"PRN", 0, 0},
        {"aux", 0, 0},
        {"CONOUT$", 0, 0},
        {"conin$", 0, 0},
        {"sub\\nul", 0, 0},
    });
    EXPECT_EQ(utl_IsSafeRecordName(nullptr, 3, nullptr), 0);
}

TEST(RecordName, DoubleByteTrailBytesAreNoSeparators)
{
    RunTable({
        // 0xC4 0x5C is one GBK character; byte by byte it is "\xC4" and a trailing backslash.
        {"\xC4\x5C", 0, 1},
        {"\xC4\x5C.txt", 1, 1},
        {"\xB0\xB2\xD7\xB0.exe", 1, 1},
        // Trail byte 0x7C is '|' in a single-byte code page.
        {"\x81\x7C.dat", 0, 1},
        // A lead byte before '.', '\' or '/' (no valid trail) or at the end: converters may read
        // it either way, so the name is refused.
        {"\x81.x\\y", 1, 0},
        {"\x81/x", 1, 0},
        {"a\x81", 1, 0},
        // A separator that is really one is still seen after a double-byte character.
        {"\xC4\xE3\\..\\x", 0, 0},
        {"\xC4\x5C\\..", 0, 0},
    });
}

}  // namespace
