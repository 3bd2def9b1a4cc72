// vpack's package commands, run as the real program: create, append, list, extract, setup.
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "package/format_testutil.h"
#include "testing/testutil.h"

namespace {

struct Outcome {
    int code = -1;
    std::string out, err;
};

// Runs bin\vpack.exe with args, standard output and standard error caught apart.
Outcome Vpack(const std::vector<std::string>& args)
{
    Outcome r;
    std::string out, err;
    r.code = vt::RunTool(vt::BinDir() + "\\vpack.exe", args, &out, &err);
    for (char c : out)
        if (c != '\r') r.out += c;  // the console streams are in text mode
    for (char c : err)
        if (c != '\r') r.err += c;
    return r;
}

// The smallest stub vpack takes: "MZ", the PE header's offset at 0x3C, "PE\0\0", machine i386,
// no optional header and one section, ".vslot", whose 48 bytes at 0x200 are the empty payload slot.
const size_t kSlotAt = 0x200;
std::string Stub(size_t size)
{
    std::string stub = "MZ" + pt::Pattern(size - 2, 5);
    stub.replace(0x3C, 4, std::string("\x80\0\0\0", 4));
    stub.replace(0x80, 8, std::string("PE\0\0\x4c\x01\x01\0", 8));
    stub.replace(0x94, 2, std::string("\0\0", 2));
    // Name, virtual size 48, virtual address 0x1000, raw size 48, raw offset 0x200, the rest zero.
    stub.replace(0x98, 40, std::string(".vslot\0\0" "\x30\0\0\0" "\0\x10\0\0" "\x30\0\0\0" "\0\x02\0\0", 24) +
                               std::string(16, '\0'));
    stub.replace(kSlotAt, 48, std::string("VemloSlt\x01\x02\x00\x20", 12) + std::string(36, '\0'));
    return stub;
}

// The stub as a setup carries it: the slot filled with the package's BLAKE3 (32 bytes).
std::string Filled(std::string stub, const std::string& blake3)
{
    stub[kSlotAt + 10] = 1;
    stub.replace(kSlotAt + 12, 32, blake3);
    return stub;
}

TEST(VpackPackage, CreateListExtractRoundTrip)
{
    std::string d = vt::FreshDir("vpack_pkg");
    vt::MakeDirs(d + "\\in");
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    std::string big = pt::Pattern(10000, 9) + all;
    vt::WriteAll(d + "\\in\\a.txt", "abc");
    vt::WriteAll(d + "\\in\\big.bin", big);
    vt::WriteAll(d + "\\in\\empty", "");
    Outcome c = Vpack({"create", d + "\\p.vpk", d + "\\in\\a.txt", d + "\\in\\big.bin"});
    EXPECT_EQ(c.code, 0) << c.err;
    EXPECT_EQ(c.err, "");
    // Built by hand: the same bytes.
    EXPECT_EQ(vt::ReadAll(d + "\\p.vpk"), pt::Header() + pt::Record("a.txt", "abc") + pt::Record("big.bin", big));
    Outcome a = Vpack({"append", d + "\\p.vpk", d + "\\in\\empty"});
    EXPECT_EQ(a.code, 0) << a.err;

    Outcome l = Vpack({"list", d + "\\p.vpk"});
    EXPECT_EQ(l.code, 0);
    EXPECT_EQ(l.out, "a.txt\t3\nbig.bin\t10256\nempty\t0\ndigest: none\n");

    Outcome x = Vpack({"extract", d + "\\p.vpk", d + "\\out", "-v"});
    EXPECT_EQ(x.code, 0) << x.err;
    EXPECT_EQ(x.out, l.out);
    EXPECT_EQ(vt::ReadAll(d + "\\out\\a.txt"), "abc");
    EXPECT_EQ(vt::ReadAll(d + "\\out\\big.bin"), big);
    EXPECT_TRUE(vt::Exists(d + "\\out\\empty"));
    EXPECT_EQ(vt::List(d + "\\out"), (std::vector<std::string>{"a.txt", "big.bin", "empty"}));

    // Quiet without -v.
    Outcome q = Vpack({"extract", d + "\\p.vpk", d + "\\out2"});
    EXPECT_EQ(q.code, 0);
    EXPECT_EQ(q.out, "");
}

TEST(VpackPackage, OffsetsFindAPackageBehindAnImage)
{
    std::string d = vt::FreshDir("vpack_pkg_off");
    vt::WriteAll(d + "\\setup.exe", std::string(307200, '\0') + pt::Header() + pt::Record("VemloSetup.exe", "MZ"));
    Outcome l = Vpack({"list", d + "\\setup.exe", "--offset", "307200"});
    EXPECT_EQ(l.code, 0) << l.err;
    EXPECT_EQ(l.out, "VemloSetup.exe\t2\ndigest: none\n");
    Outcome x = Vpack({"extract", d + "\\setup.exe", d + "\\out", "--offset", "0x4B000"});
    EXPECT_EQ(x.code, 0) << x.err;
    EXPECT_EQ(vt::ReadAll(d + "\\out\\VemloSetup.exe"), "MZ");
    Outcome none = Vpack({"list", d + "\\setup.exe"});
    EXPECT_EQ(none.code, 1);
    EXPECT_EQ(none.err, "vpack: error 160: the header is not the package magic (" + d + "\\setup.exe)\n");
}

TEST(VpackPackage, DamagedPackagesAreRefusedWithOneLine)
{
    std::string d = vt::FreshDir("vpack_pkg_bad");
    std::string good = pt::Header() + pt::Record("a.txt", "abc") + pt::Record("b.txt", "bbbb");
    vt::WriteAll(d + "\\cut.vpk", good.substr(0, good.size() - 1));
    for (const char* cmd : {"list", "extract"}) {
        std::vector<std::string> args = {cmd, d + "\\cut.vpk"};
        if (std::string(cmd) == "extract") args.push_back(d + "\\out");
        Outcome r = Vpack(args);
        EXPECT_EQ(r.code, 1) << cmd;
        EXPECT_EQ(r.out, "") << cmd;  // list prints nothing of a package it refuses
        EXPECT_EQ(r.err, "vpack: error 163: a record ends beyond the package (" + d + "\\cut.vpk)\n") << cmd;
    }
    // A name reaching outside the destination: refused by list and by extract alike.
    vt::WriteAll(d + "\\evil.vpk", pt::Header() + pt::Record("..\\evil.txt", "x"));
    Outcome l = Vpack({"list", d + "\\evil.vpk"});
    EXPECT_EQ(l.code, 1);
    EXPECT_EQ(l.err.rfind("vpack: error 165: ", 0), 0u) << l.err;
    Outcome x = Vpack({"extract", d + "\\evil.vpk", d + "\\out"});
    EXPECT_EQ(x.code, 1);
    EXPECT_FALSE(vt::Exists(d + "\\evil.txt"));
    Outcome missing = Vpack({"list", d + "\\missing.vpk"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "vpack: error 152: the source file does not exist or is not a file (" + d +
                               "\\missing.vpk: no such file or folder)\n");
    Outcome app = Vpack({"append", d + "\\missing.vpk", d + "\\cut.vpk"});
    EXPECT_EQ(app.code, 1);
    EXPECT_EQ(app.err.rfind("vpack: error 153: the package to append to does not exist", 0), 0u) << app.err;
    Outcome src = Vpack({"create", d + "\\new.vpk", d + "\\nothing.txt"});
    EXPECT_EQ(src.code, 1);
    EXPECT_EQ(src.err.rfind("vpack: error 152: ", 0), 0u) << src.err;
}

// A release engineer's road: a closed setup from the files (or from a package), read back by list
// and extract as it is, after a signature was appended, and refused once damaged.
TEST(VpackPackage, SetupsAreClosedAndReadAsTheyAre)
{
    std::string d = vt::FreshDir("vpack_setup");
    vt::MakeDirs(d + "\\in");
    std::string stub = Stub(3000);
    vt::WriteAll(d + "\\stub.exe", stub);
    vt::WriteAll(d + "\\in\\a.txt", "abc");
    vt::WriteAll(d + "\\in\\b.bin", pt::Pattern(70000, 6));
    const std::string pkg = pt::Header() + pt::Record("a.txt", "abc") + pt::Record("b.bin", pt::Pattern(70000, 6));
    std::string image = Filled(stub, pt::Blake3(pkg)) + std::string(307200 - stub.size(), '\0');
    const std::string hex = pt::HexOf(pt::Blake3(pkg));  // as b3sum prints it

    Outcome made = Vpack({"setup", d + "\\stub.exe", "-o", d + "\\s.exe", d + "\\in\\a.txt", d + "\\in\\b.bin",
                          "--no-program-check", "--store"});
    EXPECT_EQ(made.code, 0) << made.err;
    EXPECT_EQ(vt::ReadAll(d + "\\s.exe"), image + pt::Closed(pkg));
    EXPECT_EQ(vt::List(d), (std::vector<std::string>{"in", "s.exe", "stub.exe"}));  // no package left over
    // The same bytes through a package; an already closed package is closed afresh, not twice.
    EXPECT_EQ(Vpack({"create", d + "\\p.vpk", d + "\\in\\a.txt", d + "\\in\\b.bin"}).code, 0);
    EXPECT_EQ(Vpack({"assemble", d + "\\stub.exe", d + "\\p.vpk", d + "\\s2.exe", "--no-program-check", "--store"}).code, 0);
    EXPECT_EQ(vt::ReadAll(d + "\\s2.exe"), vt::ReadAll(d + "\\s.exe"));
    Outcome closed = Vpack({"close", d + "\\p.vpk"});
    EXPECT_EQ(closed.out, "digest: ok BLAKE3 " + hex + "\n") << closed.err;
    EXPECT_EQ(Vpack({"assemble", d + "\\stub.exe", d + "\\p.vpk", d + "\\s3.exe", "--no-program-check", "--store"}).code, 0);
    EXPECT_EQ(vt::ReadAll(d + "\\s3.exe"), vt::ReadAll(d + "\\s.exe"));
    Outcome more = Vpack({"append", d + "\\p.vpk", d + "\\in\\a.txt"});
    EXPECT_EQ(more.code, 1);
    EXPECT_EQ(more.err.rfind("vpack: error 168: the package is closed", 0), 0u) << more.err;
    EXPECT_EQ(vt::ReadAll(d + "\\p.vpk"), pt::Closed(pkg));

    // Signed: whatever follows the end record is never read. No --offset needed for a setup.
    vt::WriteAll(d + "\\s.exe", image + pt::Closed(pkg) + pt::Pattern(1536, 7));
    const std::string listing = "a.txt\t3\nb.bin\t70000\ndigest: ok BLAKE3 " + hex + "\n";
    Outcome l = Vpack({"list", d + "\\s.exe"});
    EXPECT_EQ(l.code, 0) << l.err;
    EXPECT_EQ(l.out, listing);
    Outcome x = Vpack({"extract", d + "\\s.exe", d + "\\out", "-v"});
    EXPECT_EQ(x.out, listing) << x.err;
    EXPECT_EQ(vt::ReadAll(d + "\\out\\b.bin"), pt::Pattern(70000, 6));

    // One changed payload byte: list, extract and assemble all refuse, and extract leaves nothing.
    std::string damaged = image + pt::Closed(pkg);
    damaged[307200 + 17 + 8 + 5 + 8 + 5 + 40000] ^= 0x10;
    vt::WriteAll(d + "\\bad.exe", damaged);
    Outcome bl = Vpack({"list", d + "\\bad.exe"});
    EXPECT_EQ(bl.code, 1);
    EXPECT_EQ(bl.out, "");
    EXPECT_EQ(bl.err.rfind("vpack: error 167: the payload digest does not match", 0), 0u) << bl.err;
    Outcome bx = Vpack({"extract", d + "\\bad.exe", d + "\\badout"});
    EXPECT_EQ(bx.code, 1);
    EXPECT_FALSE(vt::Exists(d + "\\badout"));  // not even the folder it made
    vt::WriteAll(d + "\\bad.vpk", damaged.substr(307200));
    Outcome ba = Vpack({"assemble", d + "\\stub.exe", d + "\\bad.vpk", d + "\\bad2.exe", "--no-program-check"});
    EXPECT_EQ(ba.code, 1);
    EXPECT_FALSE(vt::Exists(d + "\\bad2.exe"));
}

TEST(VpackPackage, UsageAndHelp)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"create"}, {"create", "p.vpk"}, {"append", "p.vpk"}, {"list"}, {"list", "a", "b"},
             {"list", "p", "--offset"}, {"list", "p", "--offset", "x"}, {"list", "p", "--offset", "4294967296"},
             {"list", "p", "-v"}, {"extract", "p"}, {"extract", "p", "d", "--bogus"}, {"create", "--foo", "p", "a"},
             {"setup", "stub", "out", "a"}}) {
        Outcome r = Vpack(args);
        EXPECT_EQ(r.code, 2) << args[0] << " " << args.size();
        EXPECT_NE(r.err.find("usage: vpack " + args[0]), std::string::npos) << r.err;
    }
    for (const char* cmd : {"create", "append", "list", "extract"}) {
        Outcome h = Vpack({cmd, "--help"});
        EXPECT_EQ(h.code, 0);
        EXPECT_EQ(h.out.rfind(std::string("usage: vpack ") + cmd, 0), 0u) << h.out;
    }
}

// Runs bin\vpack.exe with args and reads its peak working set (watched while it runs: Wine knows
// the figures of a live process only). The exit status, or -1.
int VpackPeak(const std::vector<std::string>& args, SIZE_T* peak)
{
    std::string line = "\"" + vt::BinDir() + "\\vpack.exe\"";
    for (const std::string& a : args) line += " \"" + a + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) return -1;
    *peak = 0;
    do {
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(pi.hProcess, &counters, sizeof counters) && counters.PeakWorkingSetSize > *peak)
            *peak = counters.PeakWorkingSetSize;
    } while (WaitForSingleObject(pi.hProcess, 20) == WAIT_TIMEOUT);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return (int)code;
}

// Above the 300 MB at which the 32-bit vpack.exe used to run out of memory: setup and list stream
// the payload in flat memory.
TEST(VpackPackage, LargePayloadsStreamInFlatMemory)
{
    std::string d = vt::FreshDir("vpack_large");
    const LONGLONG size = 320LL << 20;
    HANDLE big = CreateFileA((d + "\\ulmApxSvr.exe").c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    ASSERT_NE(big, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = size;  // zeros, made by moving the end rather than by writing them
    EXPECT_TRUE(SetFilePointerEx(big, end, NULL, FILE_BEGIN) && SetEndOfFile(big));
    CloseHandle(big);
    vt::WriteAll(d + "\\VemloSetup.exe", "MZ");
    vt::WriteAll(d + "\\stub.exe", Stub(4096));

    SIZE_T peak = 0;
    EXPECT_EQ(VpackPeak({"setup", "--store", d + "\\stub.exe", "-o", d + "\\s.exe", d + "\\ulmApxSvr.exe", d + "\\VemloSetup.exe"},
                        &peak), 0);
    EXPECT_GT(peak, 0u);  // the system measured it
    EXPECT_LE(peak, (SIZE_T)64 << 20) << "setup";
    WIN32_FILE_ATTRIBUTE_DATA info = {};
    EXPECT_TRUE(GetFileAttributesExA((d + "\\s.exe").c_str(), GetFileExInfoStandard, &info));
    EXPECT_EQ(((LONGLONG)info.nFileSizeHigh << 32 | info.nFileSizeLow),
              307200 + 17 + (8 + 13 + size) + (8 + 14 + 2) + 53);
    peak = 0;
    EXPECT_EQ(VpackPeak({"list", d + "\\s.exe"}, &peak), 0);  // the digest checked over all of it
    EXPECT_LE(peak, (SIZE_T)64 << 20) << "list";
    DeleteFileA((d + "\\ulmApxSvr.exe").c_str());
    DeleteFileA((d + "\\s.exe").c_str());
}

// Every file under dir (relative name and bytes), sorted: what a failed extract must leave alone.
std::vector<std::string> Tree(const std::string& dir, const std::string& rel = "")
{
    std::vector<std::string> out;
    for (const std::string& n : vt::List(dir + rel)) {
        std::string path = rel + "\\" + n;
        DWORD attributes = GetFileAttributesA((dir + path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            out.push_back(path + "\\");
            for (const std::string& inner : Tree(dir, path)) out.push_back(inner);
        } else {
            out.push_back(path + "=" + vt::ReadAll(dir + path));
        }
    }
    return out;
}

// extract into a folder that holds the user's own files: a failure at any point leaves it exactly
// as it was (no file of the package, no folder it made, no temporary); success adds the records.
TEST(VpackPackage, ExtractChangesOnlyWhatItMakes)
{
    std::string d = vt::FreshDir("vpack_extract");
    const std::string dest = d + "\\dest";
    vt::MakeDirs(dest + "\\keep");
    vt::WriteAll(dest + "\\a.txt", "the user's own");
    vt::WriteAll(dest + "\\keep\\x.bin", "kept");
    const std::string records = pt::Header() + pt::Record("new.txt", "new") + pt::Record("sub\\b.txt", "in sub" + std::string(9000, 's'));
    std::string damaged = pt::Closed(records);
    damaged[damaged.size() - 53 - 100] ^= 0x01;  // a content byte of the last record
    std::string header = records;
    header[17 + 8 + 7 + 3] = '\x50';  // the second record's name length: 0xB0, above 64
    const struct {
        const char* label;
        std::string package;
        std::string error;  // the start of the error line
    } kRows[] = {
        {"digest mismatch", damaged, "vpack: error 167: "},
        {"damaged header", header, "vpack: error 161: "},
        {"a name taken", records + pt::Record("a.txt", "theirs"), "vpack: " + dest + "\\a.txt exists: nothing was"},
        {"a name outside", records + pt::Record("..\\evil.txt", "x"), "vpack: error 165: "},
    };
    const std::vector<std::string> before = Tree(dest);
    for (const auto& row : kRows) {
        vt::WriteAll(d + "\\p.vpk", row.package);
        Outcome x = Vpack({"extract", d + "\\p.vpk", dest});
        EXPECT_EQ(x.code, 1) << row.label;
        EXPECT_EQ(x.err.rfind(row.error, 0), 0u) << row.label << ": " << x.err;
        EXPECT_EQ(Tree(dest), before) << row.label;
        EXPECT_FALSE(vt::Exists(d + "\\evil.txt")) << row.label;
    }
    vt::WriteAll(d + "\\p.vpk", pt::Closed(records));
    Outcome ok = Vpack({"extract", d + "\\p.vpk", dest});
    EXPECT_EQ(ok.code, 0) << ok.err;
    EXPECT_EQ(Tree(dest), (std::vector<std::string>{"\\a.txt=the user's own", "\\keep\\", "\\keep\\x.bin=kept",
                                                    "\\new.txt=new", "\\sub\\",
                                                    "\\sub\\b.txt=in sub" + std::string(9000, 's')}));
}

// --force moves the user's files aside and puts them back when a later one cannot be replaced
// (b.txt is held open by another program, which forbids renaming it).
TEST(VpackPackage, ForceThatFailsPutsTheOriginalsBack)
{
    std::string d = vt::FreshDir("vpack_force");
    const std::string dest = d + "\\dest";
    vt::MakeDirs(dest);
    vt::WriteAll(dest + "\\a.txt", "mine a");
    vt::WriteAll(dest + "\\b.txt", "mine b");
    vt::WriteAll(d + "\\p.vpk", pt::Header() + pt::Record("a.txt", "new a") + pt::Record("b.txt", "new b"));
    HANDLE held = CreateFileA((dest + "\\b.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Outcome x = Vpack({"extract", d + "\\p.vpk", dest, "--force"});
    CloseHandle(held);
    EXPECT_EQ(x.code, 1);
    EXPECT_EQ(x.err.rfind("vpack: error 165: ", 0), 0u) << x.err;
    EXPECT_EQ(Tree(dest), (std::vector<std::string>{"\\a.txt=mine a", "\\b.txt=mine b"}));
    Outcome ok = Vpack({"extract", d + "\\p.vpk", dest, "--force"});
    EXPECT_EQ(ok.code, 0) << ok.err;
    EXPECT_EQ(Tree(dest), (std::vector<std::string>{"\\a.txt=new a", "\\b.txt=new b"}));
}

// The real stub: its empty slot (found here by its bytes) receives the BLAKE3 of the package and
// nothing else of the stub changes; a package closed by an older vpack (XXH3-64) is still read,
// and closed afresh with BLAKE3.
TEST(VpackPackage, AssembledStubCarriesThePackageDigestInItsSlot)
{
    std::string d = vt::FreshDir("vpack_slot");
    const std::string base = pt::Header() + pt::Record("a.txt", "abc") + pt::Record("b.bin", pt::Pattern(9000, 2));
    vt::WriteAll(d + "\\old.vpk", pt::ClosedXxh3(base));
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(XXH3_64bits(base.data(), base.size())));
    Outcome l = Vpack({"list", d + "\\old.vpk"});
    EXPECT_EQ(l.out, "a.txt\t3\nb.bin\t9000\ndigest: ok XXH3-64 " + std::string(hex) + "\n") << l.err;

    const std::string stub = vt::ReadAll(vt::BinDir() + "\\Setup.exe");
    const std::string empty = std::string("VemloSlt\x01\x02\x00\x20", 12) + std::string(36, '\0');
    size_t at = stub.find(empty);
    ASSERT_NE(at, std::string::npos) << "the stub carries no empty slot";
    EXPECT_EQ(stub.find(empty, at + 1), std::string::npos);
    Outcome a = Vpack({"assemble", vt::BinDir() + "\\Setup.exe", d + "\\old.vpk", d + "\\s.exe", "--no-program-check",
                       "--store"});
    ASSERT_EQ(a.code, 0) << a.err;
    EXPECT_NE(a.out.find("payload digest: BLAKE3 " + pt::HexOf(pt::Blake3(base)) + "\nstub slot: filled\n"),
              std::string::npos) << a.out;
    std::string want = stub + std::string(307200 - stub.size(), '\0');
    want[at + 10] = 1;
    want.replace(at + 12, 32, pt::Blake3(base));
    EXPECT_EQ(vt::ReadAll(d + "\\s.exe"), want + pt::Closed(base));
}

// Compressed packages through vpack.exe: create --compress and append (stored) make a mixed
// package; list shows content and stored sizes and the ratio; extract gives the files back; a
// record whose frame lies about its size is refused with 169 and leaves nothing behind.
TEST(VpackPackage, CompressedRecordsRoundTripAndLiesAreRefused)
{
    std::string d = vt::FreshDir("vpack_zstd");
    vt::MakeDirs(d + "\\in");
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "Vemlo compressed record line.\n";  // 90000 bytes
    const std::string noise = pt::Pattern(20000, 3);
    vt::WriteAll(d + "\\in\\text.txt", text);
    vt::WriteAll(d + "\\in\\tiny.txt", "abc");
    vt::WriteAll(d + "\\in\\noise.bin", noise);
    Outcome c = Vpack({"create", "--compress", "--level", "3", d + "\\p.vpk", d + "\\in\\text.txt", d + "\\in\\tiny.txt"});
    EXPECT_EQ(c.code, 0) << c.err;
    EXPECT_EQ(Vpack({"append", d + "\\p.vpk", d + "\\in\\noise.bin"}).code, 0);
    const std::string pkg = vt::ReadAll(d + "\\p.vpk");
    // text.txt: N with the mark, then D, the frame's length.
    ASSERT_GT(pkg.size(), 17u + 8);
    EXPECT_EQ(pkg.substr(17, 4), std::string("\x08\0\0\x80", 4));
    const uint32_t frameLen = (uint8_t)pkg[21] | (uint8_t)pkg[22] << 8 | (uint8_t)pkg[23] << 16 | (uint32_t)(uint8_t)pkg[24] << 24;
    EXPECT_LT(frameLen, 2000u);
    // tiny.txt (too small to gain) and noise.bin (appended without --compress) are stored as ever.
    EXPECT_EQ(pkg.substr(17 + 8 + 8 + frameLen), pt::Record("tiny.txt", "abc") + pt::Record("noise.bin", noise));

    Outcome l = Vpack({"list", d + "\\p.vpk"});
    EXPECT_EQ(l.code, 0) << l.err;
    const std::string stored = std::to_string(frameLen + 3 + 20000);
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.1f", 100.0 * (frameLen + 3 + 20000) / 110003.0);
    EXPECT_EQ(l.out, "text.txt\t90000\tzstd " + std::to_string(frameLen) + "\ntiny.txt\t3\nnoise.bin\t20000\n"
                     "compressed: " + stored + " bytes stored for 110003 (" + ratio + " %)\ndigest: none\n");
    Outcome x = Vpack({"extract", d + "\\p.vpk", d + "\\out"});
    EXPECT_EQ(x.code, 0) << x.err;
    EXPECT_EQ(vt::ReadAll(d + "\\out\\text.txt"), text);
    EXPECT_EQ(vt::ReadAll(d + "\\out\\noise.bin"), noise);

    // The frame's content size one higher (a single-segment frame: descriptor 0xA0, then the size
    // in 4 bytes): refused.
    EXPECT_EQ((uint8_t)(0u - (uint8_t)pkg[17 + 8 + 8 + 4]), 0xA0);
    std::string lies = pkg;
    const size_t sizeAt = 17 + 8 + 8 + 5;
    lies[sizeAt] = (char)(uint8_t)(0u - (uint8_t)(0u - (uint8_t)lies[sizeAt] + 1));
    vt::WriteAll(d + "\\lies.vpk", lies);
    Outcome bad = Vpack({"extract", d + "\\lies.vpk", d + "\\badout"});
    EXPECT_EQ(bad.code, 1);
    EXPECT_EQ(bad.err.rfind("vpack: error 169: a compressed record does not decode", 0), 0u) << bad.err;
    EXPECT_FALSE(vt::Exists(d + "\\badout"));
    EXPECT_EQ(Vpack({"create", "--compress", "--store", d + "\\q.vpk", d + "\\in\\tiny.txt"}).code, 2);
    EXPECT_EQ(Vpack({"create", "--level", "20", d + "\\q.vpk", d + "\\in\\tiny.txt"}).code, 2);
    EXPECT_FALSE(vt::Exists(d + "\\q.vpk"));
}

}  // namespace
