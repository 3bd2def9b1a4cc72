// vpack's package commands, run as the real program: create, append, list, extract.
#include <gtest/gtest.h>

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
    EXPECT_EQ(l.out, "a.txt\t3\nbig.bin\t10256\nempty\t0\n");

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
    EXPECT_EQ(l.out, "VemloSetup.exe\t2\n");
    Outcome x = Vpack({"extract", d + "\\setup.exe", d + "\\out", "--offset", "0x4B000"});
    EXPECT_EQ(x.code, 0) << x.err;
    EXPECT_EQ(vt::ReadAll(d + "\\out\\VemloSetup.exe"), "MZ");
    Outcome none = Vpack({"list", d + "\\setup.exe"});
    EXPECT_EQ(none.code, 1);
    EXPECT_EQ(none.err, "vpack: error 160: the header is not the package magic\n");
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
        EXPECT_EQ(r.err, "vpack: error 163: a record ends beyond the package\n") << cmd;
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
    EXPECT_EQ(missing.err, "vpack: error 152: the source file does not exist\n");
    Outcome app = Vpack({"append", d + "\\missing.vpk", d + "\\cut.vpk"});
    EXPECT_EQ(app.code, 1);
    EXPECT_EQ(app.err.rfind("vpack: error 153: the package to append to does not exist", 0), 0u) << app.err;
    Outcome src = Vpack({"create", d + "\\new.vpk", d + "\\nothing.txt"});
    EXPECT_EQ(src.code, 1);
    EXPECT_EQ(src.err.rfind("vpack: error 152: ", 0), 0u) << src.err;
}

TEST(VpackPackage, UsageAndHelp)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"create"}, {"create", "p.vpk"}, {"append", "p.vpk"}, {"list"}, {"list", "a", "b"},
             {"list", "p", "--offset"}, {"list", "p", "--offset", "x"}, {"list", "p", "--offset", "4294967296"},
             {"list", "p", "-v"}, {"extract", "p"}, {"extract", "p", "d", "--bogus"}}) {
        Outcome r = Vpack(args);
        EXPECT_EQ(r.code, 2) << args[0] << " " << args.size();
        EXPECT_EQ(r.err.rfind("usage: vpack " + args[0], 0), 0u) << r.err;
    }
    for (const char* cmd : {"create", "append", "list", "extract"}) {
        Outcome h = Vpack({cmd, "--help"});
        EXPECT_EQ(h.code, 0);
        EXPECT_EQ(h.out.rfind(std::string("usage: vpack ") + cmd, 0), 0u) << h.out;
    }
}

}  // namespace
