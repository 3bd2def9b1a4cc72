// The package reader: the unpack of whole packages, its checks, its trace and its refusals.
#include <gtest/gtest.h>

#include "package/format_testutil.h"
#include "package/package.h"

namespace {

using pt::Header;
using pt::Le32;
using pt::Mix;
using pt::Record;
using pt::RecordRaw;

const DWORD kUntouched = 0xABCDEF01;

struct Unpacked {
    std::string dir, out;
    int result = -1;
    DWORD error = kUntouched;
};

// Writes bytes as dir\p.bin, makes dir\out and unpacks p.bin into it.
Unpacked Unpack(const std::string& name, const std::string& bytes, DWORD offset = 0)
{
    Unpacked r;
    r.dir = vt::FreshDir(name);
    r.out = r.dir + "\\out";
    vt::MakeDirs(r.out);
    vt::WriteAll(r.dir + "\\p.bin", bytes);
    r.result = utl_FileUnpack(r.dir.c_str(), "p.bin", r.out.c_str(), &r.error, offset);
    return r;
}

std::vector<std::string> Trace() { return pt::LogMessages("UtlFile"); }

TEST(Reader, HeaderOnlyPackageHoldsNoFilesAndEndsItsTraceAtSeventeen)
{
    pt::ClearLogs();
    Unpacked r = Unpack("rd_header", Header());
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.error, kUntouched);
    EXPECT_TRUE(vt::List(r.out).empty());
    std::vector<std::string> want = {
        "utl_FileUnpack: pszSrcPath = C:\\vtest\\rd_header pszSrcFile = p.bin pszDstPath = "
        "C:\\vtest\\rd_header\\out",
        "utl_FileUnpack: szSrcAbsFile = C:\\vtest\\rd_header\\p.bin",
        "utl_FileUnpack: dwSizeHigh = 0 dwSizeLow = 17",
        "utl_FileUnpack: dwSizeLow = dwSizeLow - dwOffset= 17",
        "utl_FileUnpack: dwCurTotalLen = 17",
        "utl_FileUnpack: the package carries no payload digest.",
    };
    EXPECT_EQ(Trace(), want);
}

TEST(Reader, OneRecordTraceNamesEveryStep)
{
    pt::ClearLogs();
    Unpacked r = Unpack("rd_trace", Header() + Record("a.txt", "abc"));
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(vt::ReadAll(r.out + "\\a.txt"), "abc");
    std::vector<std::string> t = Trace();
    std::vector<std::string> tail(t.begin() + 4, t.end());
    std::vector<std::string> want = {
        "utl_FileUnpack: dwCurTotalLen = 17",
        "utl_FileUnpack: unpack time = 1",
        "utl_FileUnpack: dwBufDataLen = 4 dwCurFileNameLen = 5 sizeof(DWORD) = 4",
        "utl_FileUnpack: dwCurTotalLen = 33",
        "utl_FileUnpack: szDstAbsFile = C:\\vtest\\rd_trace\\out\\a.txt",
        "utl_FileUnpack: the package carries no payload digest.",
    };
    EXPECT_EQ(tail, want);
}

TEST(Reader, EmptyRecordsAndExactlyFilledPackages)
{
    // D = 0 gives an empty file and the next record follows directly; no end record needed.
    Unpacked r = Unpack("rd_empty", Header() + Record("empty.dat", "") + Record("b.txt", "bb") +
                                   Record("c.bin", pt::Pattern(300)));
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(vt::List(r.out), (std::vector<std::string>{"b.txt", "c.bin", "empty.dat"}));
    EXPECT_EQ(vt::ReadAll(r.out + "\\empty.dat"), "");
    EXPECT_EQ(vt::ReadAll(r.out + "\\b.txt"), "bb");
    EXPECT_EQ(vt::ReadAll(r.out + "\\c.bin"), pt::Pattern(300));
}

TEST(Reader, EndRecordStopsBeforeAnyTrailingBytes)
{
    pt::ClearLogs();
    // An end record without data and 1000 further bytes that would be refused if read.
    std::string trailing(1000, '\xFF');
    Unpacked r = Unpack("rd_end", Header() + Record("a.txt", "abc") + Record("^Vemlo_end^", "") + trailing);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.error, kUntouched);
    EXPECT_EQ(vt::List(r.out), (std::vector<std::string>{"^Vemlo_end^", "a.txt"}));
    EXPECT_EQ(vt::ReadAll(r.out + "\\^Vemlo_end^"), "");
    std::vector<std::string> t = Trace();
    ASSERT_GE(t.size(), 3u);
    EXPECT_EQ(t[t.size() - 3], "utl_FileUnpack: szDstAbsFile = C:\\vtest\\rd_end\\out\\^Vemlo_end^");
    EXPECT_EQ(t[t.size() - 2], "utl_FileUnpack: The file is end.");
    EXPECT_EQ(t.back(), "utl_FileUnpack: the package carries no payload digest.");

    // An end record whose data would reach beyond the package is refused before its name.
    Unpacked bad = Unpack("rd_end_long", Header() + RecordRaw(11, 6, "^Vemlo_end^", "zzzzz"));
    EXPECT_EQ(bad.result, 0);
    EXPECT_EQ(bad.error, 163u);
    EXPECT_TRUE(vt::List(bad.out).empty());
}

TEST(Reader, EndRecordLeavesAnExistingFileOfItsNameUnchanged)
{
    std::string d = vt::FreshDir("rd_end_keep");
    vt::MakeDirs(d + "\\out");
    vt::WriteAll(d + "\\out\\^Vemlo_end^", "keep");
    vt::WriteAll(d + "\\p.bin", Header() + Record("^Vemlo_end^", ""));
    DWORD err = kUntouched;
    EXPECT_EQ(utl_FileUnpack(d.c_str(), "p.bin", (d + "\\out").c_str(), &err, 0), 1);
    EXPECT_EQ(vt::ReadAll(d + "\\out\\^Vemlo_end^"), "keep");
}

TEST(Reader, BadHeadersAreRefusedWithoutCreatingFiles)
{
    std::string h = Header();
    h[16] = Mix(std::string("!"))[0];  // the final blank differs
    Unpacked r = Unpack("rd_magic", h + Record("a.txt", "abc"));
    EXPECT_EQ(r.error, 160u);
    EXPECT_TRUE(vt::List(r.out).empty());

    Unpacked shortOne = Unpack("rd_short", Header().substr(0, 16));
    EXPECT_EQ(shortOne.result, 0);
    EXPECT_EQ(shortOne.error, 159u);
    // Unmixed magic is no magic either.
    EXPECT_EQ(Unpack("rd_plain", "^-=Vemlo=-^ Reed ").error, 160u);
}

TEST(Reader, NameLengthsUpToSixtyFourPass)
{
    std::string n64(60, 'n');
    n64 += ".txt";
    Unpacked ok = Unpack("rd_n64", Header() + Record(n64, "x"));
    EXPECT_EQ(ok.result, 1);
    EXPECT_EQ(vt::ReadAll(ok.out + "\\" + n64), "x");

    Unpacked no = Unpack("rd_n65", Header() + Record("a.txt", "1") + Record("n" + n64, "x"));
    EXPECT_EQ(no.result, 0);
    EXPECT_EQ(no.error, 161u);
    EXPECT_EQ(vt::List(no.out), (std::vector<std::string>{"a.txt"}));  // earlier files stay

    // A name-length field cut short, then a data-length field cut short.
    EXPECT_EQ(Unpack("rd_ncut", Header() + std::string("\x05\x00", 2)).error, 161u);
    EXPECT_EQ(Unpack("rd_dcut", Header() + Le32(5) + std::string("\x03", 1)).error, 162u);
}

TEST(Reader, NamePlusDestinationMustStayBelowAPath)
{
    // Destination C:\vtest\rd_long\<d> of length L; N + L = 260 is refused (161), N + L = 259 fits
    // the length rule but not a joined path: refused without opening anything (165).
    std::string dir = vt::FreshDir("rd_long");
    for (int sum : {260, 259, 258}) {
        size_t baseLen = dir.size() + 1;
        std::string out = dir + "\\" + std::string(200 - baseLen, 'd');
        vt::RemoveTree(out);
        vt::MakeDirs(out);
        size_t n = sum - out.size();
        ASSERT_LE(n, 64u);
        std::string name(n, 'f');
        vt::WriteAll(dir + "\\p.bin", Header() + Record(name, "z"));
        DWORD err = kUntouched;
        int res = utl_FileUnpack(dir.c_str(), "p.bin", out.c_str(), &err, 0);
        if (sum == 260) {
            EXPECT_EQ(err, 161u);
        }
        if (sum == 259) {
            EXPECT_EQ(err, 165u);
        }
        if (sum == 258) {
            EXPECT_EQ(res, 1);
            EXPECT_EQ(vt::ReadAll(out + "\\" + name), "z");
        }
    }
}

TEST(Reader, RecordsThatDoNotFitArePrecededByNoNameRead)
{
    pt::ClearLogs();
    Unpacked r = Unpack("rd_past", Header() + RecordRaw(5, 4, "a.txt", "abc"));
    EXPECT_EQ(r.error, 163u);
    EXPECT_TRUE(vt::List(r.out).empty());
    std::vector<std::string> t = Trace();
    EXPECT_EQ(t.back(), "utl_FileUnpack:Err: 163.");
    EXPECT_EQ(t[t.size() - 2], "utl_FileUnpack: dwCurTotalLen = 34");
    for (const std::string& line : t) EXPECT_EQ(line.find("szDstAbsFile"), std::string::npos);
}

TEST(Reader, DataLengthsNearFourGigabytesDoNotWrapTheTotal)
{
    // 17 + 8 + 1 + D wraps round to a small number in 32 bits for these D.
    for (uint32_t d : {0xFFFFFFF7u, 0xFFFFFFF6u, 0xFFFFFFFFu, 0xFFFFFFE0u}) {
        Unpacked r = Unpack("rd_wrap", Header() + RecordRaw(1, d, "a", "") + Record("b.txt", "bbbb"));
        EXPECT_EQ(r.result, 0) << d;
        EXPECT_EQ(r.error, 163u) << d;
        EXPECT_TRUE(vt::List(r.out).empty()) << d;
    }
}

TEST(Reader, OffsetsAndSourceSizes)
{
    std::string pkg = Header() + Record("a.txt", "abc");
    // Behind a 307200-byte setup image: the driver's offset.
    std::string image(307200, '\0');
    Unpacked r = Unpack("rd_offset", image + pkg, 307200);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(vt::ReadAll(r.out + "\\a.txt"), "abc");
    EXPECT_EQ(Unpack("rd_image_only", image, 307200).error, 155u);
    Unpacked empty = Unpack("rd_image_empty", image + Header(), 307200);
    EXPECT_EQ(empty.result, 1);
    EXPECT_TRUE(vt::List(empty.out).empty());
    EXPECT_EQ(Unpack("rd_offset_end", pkg, static_cast<DWORD>(pkg.size())).error, 155u);
    EXPECT_EQ(Unpack("rd_offset_beyond", pkg, 0xFFFFFFFFu).error, 155u);
    EXPECT_EQ(Unpack("rd_short_tail", pkg, static_cast<DWORD>(pkg.size()) - 16).error, 159u);
}

TEST(Reader, SourceOfFourGigabytesIsRefused)
{
    std::string d = vt::FreshDir("rd_4g");
    vt::MakeDirs(d + "\\out");
    std::string path = d + "\\big.bin";
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    std::string h = Header();
    WriteFile(f, h.data(), 17, &done, NULL);
    LARGE_INTEGER at;
    at.QuadPart = 0x100000000LL + 17;  // sparse: no real 4 GiB written
    SetFilePointerEx(f, at, NULL, FILE_BEGIN);
    SetEndOfFile(f);
    CloseHandle(f);
    DWORD err = kUntouched;
    EXPECT_EQ(utl_FileUnpack(d.c_str(), "big.bin", (d + "\\out").c_str(), &err, 0), 0);
    EXPECT_EQ(err, 155u);
    DeleteFileA(path.c_str());
}

TEST(Reader, PackageBeyondTwoGigabytesIsFound)
{
    // A sparse file: 2 GiB + 16 of nothing, then the package.
    std::string d = vt::FreshDir("rd_2g");
    vt::MakeDirs(d + "\\out");
    std::string path = d + "\\big.bin";
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    LARGE_INTEGER at;
    at.QuadPart = 0x80000010LL;
    SetFilePointerEx(f, at, NULL, FILE_BEGIN);
    std::string pkg = Header() + Record("a.txt", "abc");
    DWORD done = 0;
    WriteFile(f, pkg.data(), static_cast<DWORD>(pkg.size()), &done, NULL);
    CloseHandle(f);
    DWORD err = kUntouched;
    EXPECT_EQ(utl_FileUnpack(d.c_str(), "big.bin", (d + "\\out").c_str(), &err, 0x80000010u), 1);
    EXPECT_EQ(err, kUntouched);
    EXPECT_EQ(vt::ReadAll(d + "\\out\\a.txt"), "abc");
    DeleteFileA(path.c_str());
}

TEST(Reader, PathArgumentsAreCheckedFirst)
{
    pt::ClearLogs();
    std::string d = vt::FreshDir("rd_args");
    DWORD err = kUntouched;
    EXPECT_EQ(utl_FileUnpack(nullptr, "p.bin", d.c_str(), &err, 0), 0);
    EXPECT_EQ(err, 150u);
    EXPECT_EQ(Trace(), (std::vector<std::string>{"utl_FileUnpack:Err: 150."}));
    std::string longDir(250, 'x');
    EXPECT_EQ(utl_FileUnpack(longDir.c_str(), "0123456789", d.c_str(), &err, 0), 0);
    EXPECT_EQ(err, 151u);
    EXPECT_EQ(utl_FileUnpack(d.c_str(), "p.bin", (longDir + longDir).c_str(), &err, 0), 0);
    EXPECT_EQ(err, 151u);
    EXPECT_EQ(utl_FileUnpack(d.c_str(), "missing.bin", d.c_str(), &err, 0), 0);
    EXPECT_EQ(err, 152u);
    // A valid source and a destination that does not exist.
    vt::WriteAll(d + "\\p.bin", Header() + Record("a.txt", "abc"));
    EXPECT_EQ(utl_FileUnpack(d.c_str(), "p.bin", (d + "\\nowhere").c_str(), &err, 0), 0);
    EXPECT_EQ(err, 158u);
    EXPECT_FALSE(vt::Exists(d + "\\nowhere"));
}

TEST(Reader, SourceHeldOpenForWritingCannotBeRead)
{
    std::string d = vt::FreshDir("rd_locked");
    vt::MakeDirs(d + "\\out");
    std::string path = d + "\\p.bin";
    vt::WriteAll(path, Header());
    HANDLE w = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
    DWORD err = kUntouched;
    EXPECT_EQ(utl_FileUnpack(d.c_str(), "p.bin", (d + "\\out").c_str(), &err, 0), 0);
    EXPECT_EQ(err, 156u);
    CloseHandle(w);
}

TEST(Reader, ContentIsCopiedInPiecesOfFourKilobytes)
{
    std::string d = vt::FreshDir("rd_pieces");
    std::string data = pt::Pattern(10000, 7);
    vt::WriteAll(d + "\\p.bin", Header() + Record("big.bin", data) + Record("x4096", pt::Pattern(4096)) +
                                    Record("x4097", pt::Pattern(4097)));
    struct Seen {
        std::vector<std::vector<DWORD>> pieces;
        std::string bytes;
    } seen;
    PackVisitor v = {};
    v.begin = [](void* ctx, const PackRecord*) -> DWORD {
        static_cast<Seen*>(ctx)->pieces.emplace_back();
        return 0;
    };
    v.piece = [](void* ctx, const BYTE* bytes, DWORD len) -> DWORD {
        Seen* s = static_cast<Seen*>(ctx);
        s->pieces.back().push_back(len);
        if (s->pieces.size() == 1) s->bytes.append(reinterpret_cast<const char*>(bytes), len);
        return 0;
    };
    v.ctx = &seen;
    DWORD err = 0;
    EXPECT_EQ(utl_WalkPackage((d + "\\p.bin").c_str(), 0, &v, &err), 1);
    ASSERT_EQ(seen.pieces.size(), 3u);
    EXPECT_EQ(seen.pieces[0], (std::vector<DWORD>{4096, 4096, 1808}));
    EXPECT_EQ(seen.pieces[1], (std::vector<DWORD>{4096}));
    EXPECT_EQ(seen.pieces[2], (std::vector<DWORD>{4096, 1}));
    EXPECT_EQ(seen.bytes, data);

    // A larger piece size given by the caller (the unpacker's): pieces of that size.
    seen = Seen();
    v.pieceSize = 4500;
    EXPECT_EQ(utl_WalkPackage((d + "\\p.bin").c_str(), 0, &v, &err), 1);
    ASSERT_EQ(seen.pieces.size(), 3u);
    EXPECT_EQ(seen.pieces[0], (std::vector<DWORD>{4500, 4500, 1000}));
    EXPECT_EQ(seen.pieces[1], (std::vector<DWORD>{4096}));
    EXPECT_EQ(seen.pieces[2], (std::vector<DWORD>{4097}));
    EXPECT_EQ(seen.bytes, data);

    std::string big = pt::Pattern(3 * kUnpackPiece + 17, 8);
    Unpacked r = Unpack("rd_pieces_unpack", vt::ReadAll(d + "\\p.bin") + Record("huge", big));
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(vt::ReadAll(r.out + "\\huge"), big);
    EXPECT_EQ(vt::ReadAll(r.out + "\\big.bin"), data);
    EXPECT_EQ(vt::ReadAll(r.out + "\\x4097"), pt::Pattern(4097));
}

TEST(Reader, ExistingLongerFileIsCutToThePackedBytes)
{
    std::string d = vt::FreshDir("rd_trunc");
    vt::MakeDirs(d + "\\out");
    vt::WriteAll(d + "\\out\\a.txt", "an old and much longer content");
    vt::WriteAll(d + "\\out\\e.txt", "old");
    vt::WriteAll(d + "\\p.bin", Header() + Record("a.txt", "abc") + Record("e.txt", ""));
    DWORD err = kUntouched;
    EXPECT_EQ(utl_FileUnpack(d.c_str(), "p.bin", (d + "\\out").c_str(), &err, 0), 1);
    EXPECT_EQ(vt::ReadAll(d + "\\out\\a.txt"), "abc");
    EXPECT_EQ(vt::ReadAll(d + "\\out\\e.txt"), "");
}

TEST(Reader, NamesReachingOutsideTheDestinationAreRefusedBeforeAnyOpen)
{
    const std::vector<std::string> bad = {
        "..\\x.txt", "../x.txt", "a\\..\\..\\x.txt", "sub\\..\\..\\x.txt", "\\x.txt", "/x.txt",
        "C:\\vtest\\rd_escape\\x.txt", "C:x.txt", "x.txt:s", "..", "", "nul", "sub\\..",
    };
    for (const std::string& name : bad) {
        pt::ClearLogs();
        std::string d = vt::FreshDir("rd_escape");
        std::string out = d + "\\dst\\out";
        vt::MakeDirs(out + "\\sub");
        vt::WriteAll(d + "\\p.bin", Header() + Record("ok.txt", "1") + Record(name, "evil"));
        DWORD err = kUntouched;
        EXPECT_EQ(utl_FileUnpack(d.c_str(), "p.bin", out.c_str(), &err, 0), 0) << name;
        EXPECT_EQ(err, 165u) << name;
        EXPECT_EQ(vt::List(d), (std::vector<std::string>{"dst", "p.bin"})) << name;
        EXPECT_EQ(vt::List(d + "\\dst"), (std::vector<std::string>{"out"})) << name;
        EXPECT_EQ(vt::List(out), (std::vector<std::string>{"ok.txt", "sub"})) << name;
        EXPECT_TRUE(vt::List(out + "\\sub").empty()) << name;
        EXPECT_FALSE(vt::Exists("C:\\x.txt")) << name;
        int opened = 0;  // only ok.txt was ever opened
        for (const std::string& line : Trace()) opened += line.find("szDstAbsFile = ") != std::string::npos;
        EXPECT_EQ(opened, 1) << name;
    }
}

TEST(Reader, SubfolderNamesWorkOnlyWhenTheSubfolderExists)
{
    std::string d = vt::FreshDir("rd_sub");
    std::string out = d + "\\out";
    vt::MakeDirs(out + "\\sub");
    vt::WriteAll(d + "\\p.bin", Header() + Record("sub\\a.txt", "in sub") + Record("sub/b.txt", "b") +
                                    Record("missing\\c.txt", "c"));
    DWORD err = kUntouched;
    EXPECT_EQ(utl_FileUnpack(d.c_str(), "p.bin", out.c_str(), &err, 0), 0);
    EXPECT_EQ(err, 165u);  // no directory is ever created
    EXPECT_EQ(vt::ReadAll(out + "\\sub\\a.txt"), "in sub");
    EXPECT_EQ(vt::ReadAll(out + "\\sub\\b.txt"), "b");
    EXPECT_EQ(vt::List(out), (std::vector<std::string>{"sub"}));
}

TEST(Reader, PayloadDigestIsCheckedWhileUnpacking)
{
    const std::string base = Header() + Record("a.txt", "abc") + Record("b.bin", pt::Pattern(5000, 3));
    const std::string closed = pt::Closed(base);
    const std::string signature = pt::Pattern(1500, 4);  // what signing appends: never read
    auto flip = [](std::string b, size_t at) { b[at] = static_cast<char>(b[at] ^ 0x01); return b; };
    const size_t valueAt = closed.size() - 32, idAt = closed.size() - 34;
    struct Case {
        const char* what;
        std::string bytes;
        DWORD offset;
        DWORD error;  // 0: unpacked
    };
    const std::vector<Case> cases = {
        {"closed and signed", closed + signature, 0, 0},
        {"closed behind an image", std::string(300, 'I') + closed, 300, 0},
        {"a content byte changed", flip(closed, base.size() - 100) + signature, 0, 167},
        {"a name byte changed", flip(closed, 17 + 8 + 2), 0, 167},
        {"a digest byte changed", flip(closed, valueAt + 7), 0, 167},
        {"an algorithm this reader does not know", flip(closed, idAt) + signature, 0, 167},
        {"an end record carrying something else", base + Record("^Vemlo_end^", "zzzzz"), 0, 167},
        {"no end record", base, 0, 0},
        {"closed by an older writer (XXH3-64)", pt::ClosedXxh3(base) + signature, 0, 0},
        {"XXH3-64 damaged", flip(pt::ClosedXxh3(base), base.size() - 100), 0, 167},
    };
    for (const Case& c : cases) {
        pt::ClearLogs();
        Unpacked r = Unpack("rd_digest", c.bytes, c.offset);
        std::vector<std::string> t = Trace();
        if (c.error == 0) {
            EXPECT_EQ(r.result, 1) << c.what;
            EXPECT_EQ(vt::ReadAll(r.out + "\\b.bin"), pt::Pattern(5000, 3)) << c.what;
        } else {
            EXPECT_EQ(r.result, 0) << c.what;
            EXPECT_EQ(r.error, c.error) << c.what;
            // Nothing of a damaged package stays behind, not even the files that came out whole.
            EXPECT_TRUE(vt::List(r.out).empty()) << c.what;
            ASSERT_GE(t.size(), 2u);
            EXPECT_EQ(t.back(), "utl_FileUnpack:Err: 167.") << c.what;
            EXPECT_EQ(t[t.size() - 2].rfind("utl_FileUnpack: payload digest mismatch: the end record carries ", 0), 0u)
                << t[t.size() - 2];
        }
    }
    // The verified digest is named in the trace as b3sum (or xxhsum -H3) prints it.
    pt::ClearLogs();
    Unpack("rd_digest", closed);
    EXPECT_EQ(Trace().back(), "utl_FileUnpack: payload digest BLAKE3 " + pt::HexOf(pt::Blake3(base)) + " verified.");
    pt::ClearLogs();
    Unpack("rd_digest", pt::ClosedXxh3(base));
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(XXH3_64bits(base.data(), base.size())));
    EXPECT_EQ(Trace().back(), "utl_FileUnpack: payload digest XXH3-64 " + std::string(hex) + " verified.");
}

// A setup bound to its package (the digest in its slot) unpacks that package and no other, and
// an unbound one (no digest expected) any sound package.
TEST(Reader, HeldSourceWithAnExpectedDigestTakesOnlyThatPackage)
{
    const std::string mine = Header() + Record("a.txt", "mine") + Record("b.bin", pt::Pattern(9000, 5));
    const std::string other = Header() + Record("a.txt", "other") + Record("evil.exe", "MZ");
    DigestValue expect = {};
    expect.algorithm = kDigestBlake3;
    expect.len = 32;
    memcpy(expect.bytes, pt::Blake3(mine).data(), 32);
    const std::string mineHex = pt::HexOf(pt::Blake3(mine));
    // A large content is digested beside the writes, on a second thread: the same verdicts.
    const std::string bigContent = pt::Pattern(3 * kHashBesideMin, 6);
    const std::string large = Header() + Record("a.txt", "large") + Record("big.bin", bigContent);
    DigestValue expectLarge = expect;
    memcpy(expectLarge.bytes, pt::Blake3(large).data(), 32);
    std::string largeDamaged = pt::Closed(large);
    largeDamaged[large.size() - kHashBesideMin] ^= 0x10;
    const std::string largeMismatch = "utl_FileUnpack: payload digest mismatch: the end record carries " +
                                      pt::HexOf(pt::Blake3(large)) + ", the package gives " +
                                      pt::HexOf(pt::Blake3(largeDamaged.substr(0, large.size()))) + ".";
    const std::string notOwn = "utl_FileUnpack: this setup carries the payload digest BLAKE3 " + mineHex +
                               ": the package is not its own.";
    const struct {
        const char* what;
        std::string bytes;
        const DigestValue* expect;
        DWORD error;
        std::string line;  // the trace line before the error line
        bool big = false;  // big.bin is among the files unpacked
    } rows[] = {
        {"its own package", pt::Closed(mine) + "signature", &expect, 0, ""},
        {"another sound package", pt::Closed(other) + "signature", &expect, 167, notOwn},
        {"its own bytes closed with XXH3-64", pt::ClosedXxh3(mine), &expect, 167, notOwn},
        {"its own bytes, no end record", mine, &expect, 167, notOwn},
        {"its own bytes, an empty end record", mine + Record("^Vemlo_end^", ""), &expect, 167, notOwn},
        {"another package, unbound", pt::Closed(other), nullptr, 0, ""},
        {"its own large package", pt::Closed(large) + "signature", &expectLarge, 0, "", true},
        {"its own large package, one content byte changed", largeDamaged, &expectLarge, 167, largeMismatch},
        {"a large package, unbound", pt::Closed(large), nullptr, 0, "", true},
    };
    std::string d = vt::FreshDir("rd_expect");
    for (auto& row : rows) {
        std::string out = d + "\\out";
        vt::RemoveTree(out);
        vt::MakeDirs(out);
        vt::WriteAll(d + "\\p.bin", row.bytes);
        pt::ClearLogs();
        HANDLE src = CreateFileA((d + "\\p.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(src, INVALID_HANDLE_VALUE);
        DWORD err = kUntouched;
        int ok = utl_FileUnpackHeld(src, d.c_str(), "p.bin", out.c_str(), &err, 0, row.expect);
        CloseHandle(src);
        EXPECT_EQ(ok, row.error == 0) << row.what;
        std::vector<std::string> t = Trace();
        if (row.error) {
            EXPECT_EQ(err, row.error) << row.what;
            EXPECT_TRUE(vt::List(out).empty()) << row.what;  // nothing of it stays
            ASSERT_GE(t.size(), 2u);
            EXPECT_EQ(t[t.size() - 2], row.line) << row.what;
            EXPECT_EQ(t.back(), "utl_FileUnpack:Err: 167.") << row.what;
        } else {
            EXPECT_EQ(err, kUntouched) << row.what;
            EXPECT_TRUE(vt::Exists(out + "\\a.txt")) << row.what;
            EXPECT_EQ(vt::Exists(out + "\\big.bin"), row.big) << row.what;
            if (row.big) {
                EXPECT_EQ(vt::ReadAll(out + "\\big.bin"), bigContent) << row.what;
            }
        }
    }
}

TEST(Reader, HeldSourceIsReadThroughItsHandleAndMakesOnlyNewFiles)
{
    std::string d = vt::FreshDir("rd_held");
    std::string out = d + "\\out";
    vt::MakeDirs(out);
    vt::WriteAll(d + "\\p.bin", pt::Closed(Header() + Record("a.txt", "original")));
    HANDLE src = CreateFileA((d + "\\p.bin").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL,
                             OPEN_EXISTING, 0, NULL);
    ASSERT_NE(src, INVALID_HANDLE_VALUE);
    // The name now shows another package: what is held is what is read.
    ASSERT_TRUE(MoveFileA((d + "\\p.bin").c_str(), (d + "\\p.old").c_str()));
    vt::WriteAll(d + "\\p.bin", pt::Closed(Header() + Record("a.txt", "swapped") + Record("evil.exe", "MZ")));
    DWORD err = kUntouched;
    EXPECT_EQ(utl_FileUnpackHeld(src, d.c_str(), "p.bin", out.c_str(), &err, 0), 1);
    EXPECT_EQ(vt::ReadAll(out + "\\a.txt"), "original");
    EXPECT_EQ(vt::List(out), (std::vector<std::string>{"^Vemlo_end^", "a.txt"}));

    // A name that is there already is somebody else's: refused (165), never written into, and
    // not deleted when the package then turns out damaged either.
    vt::RemoveTree(out);
    vt::MakeDirs(out);
    vt::WriteAll(out + "\\a.txt", "planted");
    EXPECT_EQ(utl_FileUnpackHeld(src, d.c_str(), "p.bin", out.c_str(), &err, 0), 0);
    EXPECT_EQ(err, 165u);
    EXPECT_EQ(vt::ReadAll(out + "\\a.txt"), "planted");
    CloseHandle(src);

    std::string bad = pt::Closed(Header() + Record("n.txt", "new") + Record("a.txt", "abc"));
    bad[17 + 8 + 5] = 'X';  // n.txt's content damaged
    vt::WriteAll(d + "\\bad.bin", bad);
    src = CreateFileA((d + "\\bad.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(utl_FileUnpackHeld(src, d.c_str(), "bad.bin", out.c_str(), &err, 0), 0);
    EXPECT_EQ(err, 165u);  // a.txt is planted; n.txt was made and goes again only on a mismatch
    CloseHandle(src);
    vt::RemoveTree(out + "\\n.txt");
    vt::RemoveTree(out + "\\a.txt");
    src = CreateFileA((d + "\\bad.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    vt::WriteAll(out + "\\keep.txt", "someone else's");
    EXPECT_EQ(utl_FileUnpackHeld(src, d.c_str(), "bad.bin", out.c_str(), &err, 0), 0);
    EXPECT_EQ(err, 167u);
    EXPECT_EQ(vt::List(out), std::vector<std::string>{"keep.txt"});
    CloseHandle(src);
    EXPECT_EQ(utl_FileUnpackHeld(INVALID_HANDLE_VALUE, d.c_str(), "p.bin", out.c_str(), &err, 0), 0);
    EXPECT_EQ(err, 156u);
}

TEST(Reader, NullErrorPointerIsRefused)
{
    EXPECT_EQ(utl_FileUnpack("C:\\", "x", "C:\\", nullptr, 0), 0);
}

}  // namespace

namespace {

// Runs under both system code pages (CTest runs it a second time with code page 936). The
// names are judged through the walker: Wine keeps Unix file names in the locale's GB2312,
// which has no character with the trail byte 0x5C, so such a file cannot be created there.
TEST(ReaderGbk, TrailByteBackslashBelongsToTheCharacterInCodePage936)
{
    std::string d = vt::FreshDir("rd_gbk");
    // 0xC4 0x5C is one GBK character; in a single-byte code page it is "\xC4" and a trailing
    // separator. 0x81 before '.' is a broken GBK character, a plain name in code page 1252.
    vt::WriteAll(d + "\\p.bin", Header() + Record("\xC4\x5C", "a") + Record("\x81.x", "b"));
    std::vector<std::string> begun;
    PackVisitor v = {};
    v.begin = [](void* ctx, const PackRecord* rec) -> DWORD {
        static_cast<std::vector<std::string>*>(ctx)->push_back(rec->name);
        return 0;
    };
    v.ctx = &begun;
    DWORD err = 0;
    EXPECT_EQ(utl_WalkPackage((d + "\\p.bin").c_str(), 0, &v, &err), 0);
    EXPECT_EQ(err, 165u);
    // The zh. run must have code page 936, the other 1252: neither passes under the other's.
    ASSERT_EQ(GetACP(), vt::ExpectedCodePage());
    if (vt::ChineseRun()) {
        EXPECT_EQ(begun, std::vector<std::string>{"\xC4\x5C"});
    } else {
        EXPECT_TRUE(begun.empty());
        // In a single-byte code page 0xC4 0x5C names a file in the folder "\xC4", which does
        // not exist: refused, nothing created.
        Unpacked r = Unpack("rd_gbk_unpack", Header() + Record("\xC4\x5C.txt", "x"));
        EXPECT_EQ(r.error, 165u);
        EXPECT_TRUE(vt::List(r.out).empty());
    }
}

}  // namespace
