// The package writer: new and appended packages, its byte layout, its trace and its refusals.
#include <gtest/gtest.h>

#include "package/format_testutil.h"
#include "package/package.h"
#include "package/writer.h"

namespace {

using pt::Header;
using pt::Record;

const DWORD kUntouched = 0xABCDEF01;

// Packs dir\src\<name> into dir\out\p.bin.
int Pack(const std::string& dir, const std::string& name, int add, DWORD* err)
{
    return utl_FilePack((dir + "\\src").c_str(), name.c_str(), (dir + "\\out").c_str(), "p.bin", err, add);
}

std::string FreshPair(const std::string& name)
{
    std::string d = vt::FreshDir(name);
    vt::MakeDirs(d + "\\src");
    vt::MakeDirs(d + "\\out");
    return d;
}

TEST(Writer, OneSmallFileGivesTheDocumentedThirtyThreeBytes)
{
    std::string d = FreshPair("wr_example");
    vt::WriteAll(d + "\\src\\a.txt", "abc");
    DWORD err = kUntouched;
    EXPECT_EQ(Pack(d, "a.txt", 0, &err), 1);
    // Hand-mixed: 256 - byte for every byte of the magic, the name and the content.
    const unsigned char want[33] = {
        0xA2, 0xD3, 0xC3, 0xAA, 0x9B, 0x93, 0x94, 0x91, 0xC3, 0xD3, 0xA2, 0xE0, 0xAE, 0x9B, 0x9B, 0x9C, 0xE0,
        0x05, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
        0x9F, 0xD2, 0x8C, 0x88, 0x8C,
        0x9F, 0x9E, 0x9D};
    EXPECT_EQ(vt::ReadAll(d + "\\out\\p.bin"), std::string(reinterpret_cast<const char*>(want), 33));
}

TEST(Writer, TraceFollowsEveryStepAndClosesWithTheLastRead)
{
    std::string d = FreshPair("wr_trace");
    vt::WriteAll(d + "\\src\\a.txt", "abc");
    pt::ClearLogs();
    DWORD err = kUntouched;
    EXPECT_EQ(Pack(d, "a.txt", 0, &err), 1);
    const std::string src = "C:\\vtest\\wr_trace\\src", out = "C:\\vtest\\wr_trace\\out";
    std::vector<std::string> pack = pt::LogMessages("UtlPack");
    ASSERT_EQ(pack.size(), 6u);
    EXPECT_EQ(pack[0], "utl_FilePack: pszSrcPath = " + src + " pszSrcFile = a.txt pszDstPath = " + out +
                           " pszDstFile = p.bin");
    EXPECT_EQ(pack[1], "utl_FilePack: " + src + "\\a.txt dwSizeHigh = 0 dwSizeLow = 3");
    EXPECT_EQ(pack[2], "utl_FilePack: " + src + "\\a.txt !bAdd.");
    EXPECT_EQ(pack[3], "utl_FilePack: " + src + "\\a.txt dwLenSrcFile = 5 sizeof(DWORD) = 4");
    EXPECT_EQ(pack[4], "utl_FilePack: " + src + "\\a.txt dwSizeLow = 3 sizeof(DWORD) = 4");
    // The read at the end of the file succeeds with nothing read and leaves the last-error code
    // at 0 (nothing before it failed, the package was new); on success the error out-parameter
    // carries that code.
    EXPECT_EQ(pack[5], "utl_FilePack: ReadFile failed with err 0");
    EXPECT_EQ(err, 0u);
    std::vector<std::string> file = pt::LogMessages("UtlFile");
    ASSERT_EQ(file.size(), 1u);
    EXPECT_EQ(file[0], "utl_FilePack: szSrcAbsFile = " + src + "\\a.txt szDstAbsFile = " + out + "\\p.bin");
    // What the trace follows: the package's header and the one record, byte for byte.
    EXPECT_EQ(vt::ReadAll(out + "\\p.bin"), Header() + Record("a.txt", "abc"));
}

TEST(Writer, AppendedRecordsFollowOneHeaderAndUnpackByteForByte)
{
    std::string d = FreshPair("wr_append");
    std::string a = pt::Pattern(10000, 3), b = pt::Pattern(4097, 4), c = pt::Pattern(4096, 5);
    vt::WriteAll(d + "\\src\\a.txt", a);
    vt::WriteAll(d + "\\src\\b.txt", b);
    vt::WriteAll(d + "\\src\\c.bin", c);
    vt::WriteAll(d + "\\src\\empty", "");
    DWORD err = kUntouched;
    EXPECT_EQ(Pack(d, "a.txt", 0, &err), 1);
    EXPECT_EQ(Pack(d, "b.txt", 1, &err), 1);
    EXPECT_EQ(Pack(d, "c.bin", 1, &err), 1);
    EXPECT_EQ(Pack(d, "empty", 1, &err), 1);
    EXPECT_EQ(vt::ReadAll(d + "\\out\\p.bin"),
              Header() + Record("a.txt", a) + Record("b.txt", b) + Record("c.bin", c) + Record("empty", ""));
    vt::MakeDirs(d + "\\x");
    err = kUntouched;
    EXPECT_EQ(utl_FileUnpack((d + "\\out").c_str(), "p.bin", (d + "\\x").c_str(), &err, 0), 1);
    EXPECT_EQ(vt::ReadAll(d + "\\x\\a.txt"), a);
    EXPECT_EQ(vt::ReadAll(d + "\\x\\b.txt"), b);
    EXPECT_EQ(vt::ReadAll(d + "\\x\\c.bin"), c);
    EXPECT_TRUE(vt::Exists(d + "\\x\\empty"));
    EXPECT_EQ(vt::ReadAll(d + "\\x\\empty"), "");
}

TEST(Writer, NewPackageReplacesAnOldOne)
{
    std::string d = FreshPair("wr_replace");
    vt::WriteAll(d + "\\out\\p.bin", std::string(5000, 'o'));
    SetFileAttributesA((d + "\\out\\p.bin").c_str(), FILE_ATTRIBUTE_READONLY);
    vt::WriteAll(d + "\\src\\a.txt", "abc");
    DWORD err = kUntouched;
    EXPECT_EQ(Pack(d, "a.txt", 0, &err), 1);
    EXPECT_EQ(vt::ReadAll(d + "\\out\\p.bin"), Header() + Record("a.txt", "abc"));
}

TEST(Writer, AppendNeedsAnExistingPackage)
{
    std::string d = FreshPair("wr_noappend");
    vt::WriteAll(d + "\\src\\a.txt", "abc");
    DWORD err = kUntouched;
    EXPECT_EQ(Pack(d, "a.txt", 1, &err), 0);
    EXPECT_EQ(err, 153u);
    EXPECT_TRUE(vt::List(d + "\\out").empty());
}

TEST(Writer, LongNamesAreWrittenAndLeftToTheReaderToRefuse)
{
    std::string d = FreshPair("wr_n65");
    std::string n65(61, 'n');
    n65 += ".txt";
    vt::WriteAll(d + "\\src\\" + n65, "x");
    DWORD err = kUntouched;
    EXPECT_EQ(Pack(d, n65, 0, &err), 1);
    EXPECT_EQ(vt::ReadAll(d + "\\out\\p.bin"), Header() + Record(n65, "x"));
    vt::MakeDirs(d + "\\x");
    err = kUntouched;
    EXPECT_EQ(utl_FileUnpack((d + "\\out").c_str(), "p.bin", (d + "\\x").c_str(), &err, 0), 0);
    EXPECT_EQ(err, 161u);
}

TEST(Writer, ArgumentsSourcesAndPackagesThatCannotBeUsed)
{
    std::string d = FreshPair("wr_errors");
    vt::WriteAll(d + "\\src\\a.txt", "abc");
    DWORD err = kUntouched;
    EXPECT_EQ(utl_FilePack(nullptr, "a", "b", "c", &err, 0), 0);
    EXPECT_EQ(err, 150u);
    EXPECT_EQ(utl_FilePack("a", "b", "c", nullptr, &err, 0), 0);
    EXPECT_EQ(err, 150u);
    std::string longName(250, 'x');
    EXPECT_EQ(utl_FilePack(d.c_str(), longName.c_str(), d.c_str(), "p.bin", &err, 0), 0);
    EXPECT_EQ(err, 151u);
    EXPECT_EQ(utl_FilePack((d + "\\src").c_str(), "a.txt", d.c_str(), longName.c_str(), &err, 0), 0);
    EXPECT_EQ(err, 151u);
    EXPECT_EQ(Pack(d, "missing.txt", 0, &err), 0);
    EXPECT_EQ(err, 152u);

    // A source held open for writing by someone else cannot be opened for reading.
    HANDLE w = CreateFileA((d + "\\src\\a.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(Pack(d, "a.txt", 0, &err), 0);
    EXPECT_EQ(err, 156u);
    CloseHandle(w);

    // A package that is a folder cannot be created.
    vt::MakeDirs(d + "\\out\\p.bin");
    EXPECT_EQ(Pack(d, "a.txt", 0, &err), 0);
    EXPECT_EQ(err, 156u);
}

TEST(Writer, PackageHeldOpenCannotBeReplaced)
{
    std::string d = FreshPair("wr_held");
    vt::WriteAll(d + "\\src\\a.txt", "abc");
    vt::WriteAll(d + "\\out\\p.bin", "old");
    HANDLE h = CreateFileA((d + "\\out\\p.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0,
                           NULL);
    DWORD err = kUntouched;
    EXPECT_EQ(Pack(d, "a.txt", 0, &err), 0);
    EXPECT_EQ(err, 154u);
    CloseHandle(h);
    EXPECT_EQ(vt::ReadAll(d + "\\out\\p.bin"), "old");
}

TEST(Writer, SourceThatIsThePackageIsNeverDeleted)
{
    std::string d = FreshPair("wr_same");
    vt::WriteAll(d + "\\src\\a.txt", "precious");
    DWORD err = kUntouched;
    for (int add : {0, 1}) {
        EXPECT_EQ(utl_FilePack((d + "\\src").c_str(), "a.txt", (d + "\\src").c_str(), "A.TXT", &err, add), 0);
        EXPECT_EQ(err, 156u);
        EXPECT_EQ(utl_FilePack((d + "\\src").c_str(), "a.txt", (d + "\\src\\..\\src").c_str(), "a.txt", &err, add), 0);
        EXPECT_EQ(err, 156u);
    }
    EXPECT_EQ(vt::ReadAll(d + "\\src\\a.txt"), "precious");
}

// The content copy on its own, with sources whose content disagrees with the recorded size.
struct CopyCase {
    std::string content;
    DWORD size;
    DWORD want;
};

TEST(Writer, ContentCopyRefusesSourcesThatDoNotHoldTheRecordedSize)
{
    std::string d = vt::FreshDir("wr_copy");
    const std::vector<CopyCase> cases = {
        {pt::Pattern(10000), 10000, 0},
        {"", 0, 0},
        {pt::Pattern(5000), 10000, 166},  // shrank since it was measured
        {pt::Pattern(10000), 5000, 166},  // grew since it was measured
        {"x", 0, 166},
        {"", 1, 166},
    };
    for (const CopyCase& c : cases) {
        vt::WriteAll(d + "\\src", c.content);
        HANDLE src = CreateFileA((d + "\\src").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        HANDLE pkg = CreateFileA((d + "\\pkg").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        BYTE buf[4096];
        DWORD readErr = 0, writeErr = 0;
        EXPECT_EQ(PackCopyContent(src, pkg, c.size, buf, sizeof buf, &readErr, &writeErr), c.want)
            << c.content.size() << " vs " << c.size;
        CloseHandle(src);
        CloseHandle(pkg);
        if (c.want == 0) {
            EXPECT_EQ(vt::ReadAll(d + "\\pkg"), pt::Mix(c.content));
        }
    }
    // A source that cannot be read at all (no read access), and a package that cannot be written.
    vt::WriteAll(d + "\\src", "abc");
    HANDLE noRead = CreateFileA((d + "\\src").c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    HANDLE pkg = CreateFileA((d + "\\pkg").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    BYTE buf[4096];
    DWORD readErr = 0, writeErr = 0;
    EXPECT_EQ(PackCopyContent(noRead, pkg, 3, buf, sizeof buf, &readErr, &writeErr), 166u);
    CloseHandle(noRead);
    CloseHandle(pkg);
    HANDLE src = CreateFileA((d + "\\src").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    HANDLE noWrite = CreateFileA((d + "\\pkg").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(PackCopyContent(src, noWrite, 3, buf, sizeof buf, &readErr, &writeErr), 157u);
    CloseHandle(src);
    CloseHandle(noWrite);
}

TEST(Writer, ClosingAppendsTheDigestAndTakesNoMoreRecords)
{
    std::string d = FreshPair("wr_close");
    vt::WriteAll(d + "\\src\\a.txt", "abc");
    vt::WriteAll(d + "\\src\\b.txt", "more");
    DWORD err = kUntouched;
    ASSERT_EQ(Pack(d, "a.txt", 0, &err), 1);
    std::string pkg = d + "\\out\\p.bin";
    EXPECT_EQ(utl_ClosePackage((d + "\\out").c_str(), "p.bin", &err), 1);
    const std::string closed = pt::Closed(Header() + Record("a.txt", "abc"));
    EXPECT_EQ(vt::ReadAll(pkg), closed);

    // Closed once: neither closed again nor appended to; the package stays as it was.
    err = kUntouched;
    EXPECT_EQ(utl_ClosePackage((d + "\\out").c_str(), "p.bin", &err), 0);
    EXPECT_EQ(err, 168u);
    EXPECT_EQ(Pack(d, "b.txt", 1, &err), 0);
    EXPECT_EQ(err, 168u);
    EXPECT_EQ(vt::ReadAll(pkg), closed);
    // A package that is no sound package is not closed either.
    vt::WriteAll(pkg, Header() + Record("a.txt", "abc").substr(0, 10));
    EXPECT_EQ(utl_ClosePackage((d + "\\out").c_str(), "p.bin", &err), 0);
    EXPECT_EQ(err, 163u);
    EXPECT_EQ(vt::ReadAll(pkg), Header() + Record("a.txt", "abc").substr(0, 10));
    EXPECT_EQ(utl_ClosePackage((d + "\\out").c_str(), "none.bin", &err), 0);
    EXPECT_EQ(err, 152u);
}

}  // namespace
