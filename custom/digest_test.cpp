// Digest files: format checked against digests made outside (python3 hashlib), tamper detection,
// size bounds, result codes, the icon option, and the run-directory default of the makes.
#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <string>

#include "custom/custom.h"
#include "testing/testutil.h"

namespace {

// The client's digest seed, and the key derived from it (the command is in core/vrf_test.cpp).
const unsigned char kSeed[6] = {0x1B, 0x8B, 0x1C, 0x42, 0x7F, 0x7A};
const char kKey[] = "f8f8f8f8f8889e2983a24b0d6e5c13eb7e86d03f10835e83faba86cb29fa";

std::string Hex(const unsigned char* p, size_t n)
{
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) { s += d[p[i] >> 4]; s += d[p[i] & 15]; }
    return s;
}

std::string Unhex(const std::string& h)
{
    std::string s;
    for (size_t i = 0; i + 1 < h.size(); i += 2) s += (char)std::stoul(h.substr(i, 2), nullptr, 16);
    return s;
}

// The salt of the outside vectors: byte i = (i * 37 + 11) mod 255.
std::string FixedSalt()
{
    std::string s(240, '\0');
    for (int i = 0; i < 240; ++i) s[i] = (char)((i * 37 + 11) % 255);
    return s;
}

const std::string kIni = "[LogoOptions]\r\nCustomIcon=0\r\n";
// The digests, with key = bytes.fromhex(kKey), salt = bytes((i * 37 + 11) % 255 for i in
// range(240)) and ini = kIni's bytes:
//   python3: hashlib.md5(ini + salt + b"\xff" + bytes(31) + key).hexdigest() (named) and
//            hashlib.md5(ini + salt + key).hexdigest() (general)
const char kNamedDigest[] = "89283cd8f40008d20a26318159653555";
const char kGeneralDigest[] = "72f0eae72e613644fcea5ab60f70f29b";

class Digest : public ::testing::Test {
protected:
    void SetUp() override { dir = vt::FreshDir("digest"); }
    std::string P(const std::string& name) const { return dir + "\\" + name; }
    int Make(const std::string& ini, const std::string& vrf, DWORD* code)
    {
        return IniFileMakeVrf(P(ini).c_str(), P(vrf).c_str(), code);
    }
    std::string dir;
};

TEST_F(Digest, KeyFromTheClientsSeed)
{
    unsigned char key[100];
    DWORD length = sizeof key;
    ASSERT_EQ(utl_DeriveDigestKey(kSeed, 6, key, &length), 1);
    EXPECT_EQ(length, 30u);
    EXPECT_EQ(Hex(key, 30), kKey);
    length = 30;
    EXPECT_EQ(utl_DeriveDigestKey(kSeed, 6, key, &length), 1);
    EXPECT_EQ(length, 30u);

    unsigned char seed21[21] = {};
    length = 29;
    EXPECT_EQ(utl_DeriveDigestKey(kSeed, 6, key, &length), 0);
    EXPECT_EQ(length, 29u);
    length = 200;
    EXPECT_EQ(utl_DeriveDigestKey(kSeed, 5, key, &length), 0);
    EXPECT_EQ(utl_DeriveDigestKey(seed21, 21, key, &length), 0);
    EXPECT_EQ(utl_DeriveDigestKey(seed21, 20, key, &length), 1);
    EXPECT_EQ(length, 100u);
}

TEST_F(Digest, FilesMadeOutsideVerify)
{
    // Every named pair and the general pair accept a digest file assembled by hand.
    std::string named = FixedSalt() + Unhex(kNamedDigest);
    std::string general = FixedSalt() + Unhex(kGeneralDigest);
    for (const char* stem : {"VemloCustom", "VemloUninstallInfo", "WBQUninstall"}) {
        vt::WriteAll(P(std::string(stem) + ".ini"), kIni);
        vt::WriteAll(P(std::string(stem) + ".vrf"), named);
    }
    EXPECT_EQ(CusIniVerify(dir.c_str(), 0), 1);
    EXPECT_EQ(CusIniVerify(dir.c_str(), 1), 1);  // CustomIcon=0: the fixed block
    EXPECT_EQ(UninstallInfoVerify(dir.c_str()), 1);
    EXPECT_EQ(WBQUninstallVerify(dir.c_str()), 1);
    vt::WriteAll(P("VemloCustomSet.ini"), kIni);
    vt::WriteAll(P("VemloCustomSet.vrf"), general);
    EXPECT_EQ(IniFileVerify(P("VemloCustomSet.ini").c_str(), P("VemloCustomSet.vrf").c_str()), 1);
    // The general pair hashes no icon block, so the two forms are not interchangeable.
    vt::WriteAll(P("VemloCustomSet.vrf"), named);
    EXPECT_EQ(IniFileVerify(P("VemloCustomSet.ini").c_str(), P("VemloCustomSet.vrf").c_str()), 0);
    vt::WriteAll(P("WBQUninstall.vrf"), general);
    EXPECT_EQ(WBQUninstallVerify(dir.c_str()), 0);
    EXPECT_EQ(CusIniVerify(nullptr, 0), 0);
}

TEST_F(Digest, MadeFilesVerifyAndCarryASaltWithoutFF)
{
    std::set<std::string> digests;
    for (const char* stem : {"VemloCustom", "VemloUninstallInfo", "WBQUninstall"})
        vt::WriteAll(P(std::string(stem) + ".ini"), "[Uninstall]\r\nUninstall=1\r\n");
    DWORD code = 0;
    ASSERT_NE(CusIniMakeVrf(&code, dir.c_str()), 0);
    ASSERT_NE(UninstallInfoMakeVrf(&code, dir.c_str()), 0);
    ASSERT_NE(WBQUninstallMakeVrf(&code, dir.c_str()), 0);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(CusIniVerify(dir.c_str(), 0), 1);
    EXPECT_EQ(UninstallInfoVerify(dir.c_str()), 1);
    EXPECT_EQ(WBQUninstallVerify(dir.c_str()), 1);
    for (const char* vrf : {"VemloCustom.vrf", "VemloUninstallInfo.vrf", "WBQUninstall.vrf"}) {
        std::string bytes = vt::ReadAll(P(vrf));
        ASSERT_EQ(bytes.size(), 256u);
        EXPECT_EQ(bytes.substr(0, 240).find('\xFF'), std::string::npos);
    }
    // An empty settings file can be signed too.
    vt::WriteAll(P("empty.ini"), "");
    ASSERT_NE(Make("empty.ini", "empty.vrf", &code), 0);
    EXPECT_EQ(IniFileVerify(P("empty.ini").c_str(), P("empty.vrf").c_str()), 1);
}

TEST_F(Digest, EverySingleByteChangeIsDetected)
{
    // A small settings file: every position, every other value of the settings bytes; every
    // position of the salt and the stored digest with several changes.
    const std::string ini = "[a]\r\nb=1";
    vt::WriteAll(P("s.ini"), ini);
    DWORD code = 0;
    ASSERT_NE(Make("s.ini", "s.vrf", &code), 0);
    const std::string vrf = vt::ReadAll(P("s.vrf"));
    ASSERT_EQ(IniFileVerify(P("s.ini").c_str(), P("s.vrf").c_str()), 1);

    int accepted = 0;
    for (size_t i = 0; i < ini.size(); ++i)
        for (int v = 0; v < 256; ++v) {
            if ((unsigned char)ini[i] == v) continue;
            std::string changed = ini;
            changed[i] = (char)v;
            vt::WriteAll(P("s.ini"), changed);
            accepted += IniFileVerify(P("s.ini").c_str(), P("s.vrf").c_str());
        }
    vt::WriteAll(P("s.ini"), ini);
    for (size_t i = 0; i < vrf.size(); ++i)
        for (int x : {0x01, 0x80, 0xFF}) {
            std::string changed = vrf;
            changed[i] = (char)(changed[i] ^ x);
            vt::WriteAll(P("s.vrf"), changed);
            accepted += IniFileVerify(P("s.ini").c_str(), P("s.vrf").c_str());
        }
    EXPECT_EQ(accepted, 0);
    vt::WriteAll(P("s.vrf"), vrf);
    EXPECT_EQ(IniFileVerify(P("s.ini").c_str(), P("s.vrf").c_str()), 1);
}

TEST_F(Digest, SizeBoundsOfBothPairs)
{
    DWORD code = 0;
    vt::WriteAll(P("VemloCustom.ini"), std::string(7820, 'x'));
    ASSERT_NE(CusIniMakeVrf(&code, dir.c_str()), 0);
    EXPECT_EQ(CusIniVerify(dir.c_str(), 0), 1);
    vt::WriteAll(P("VemloCustom.ini"), std::string(7821, 'x'));
    EXPECT_EQ(CusIniVerify(dir.c_str(), 0), 0);
    EXPECT_EQ(CusIniMakeVrf(&code, dir.c_str()), 0);
    EXPECT_EQ(code, VRF_ERR_TOO_LARGE);

    code = 0;
    vt::WriteAll(P("g.ini"), std::string(7852, 'y'));
    ASSERT_NE(Make("g.ini", "g.vrf", &code), 0);
    EXPECT_EQ(IniFileVerify(P("g.ini").c_str(), P("g.vrf").c_str()), 1);
    vt::WriteAll(P("g.ini"), std::string(7853, 'y'));
    EXPECT_EQ(IniFileVerify(P("g.ini").c_str(), P("g.vrf").c_str()), 0);
    EXPECT_EQ(Make("g.ini", "g.vrf", &code), 0);
    EXPECT_EQ(code, VRF_ERR_TOO_LARGE);
    // The named pair's bound applies to a tool's named signing as well.
    vt::WriteAll(P("g.ini"), std::string(7821, 'y'));
    EXPECT_EQ(utl_MakeVrfFile(P("g.ini").c_str(), P("g.vrf").c_str(), 1, &code), 0);
    EXPECT_EQ(code, VRF_ERR_TOO_LARGE);
}

TEST_F(Digest, DigestFilesOfTheWrongLengthNeverVerify)
{
    vt::WriteAll(P("VemloUninstallInfo.ini"), kIni);
    std::string good = FixedSalt() + Unhex(kNamedDigest);
    vt::WriteAll(P("VemloUninstallInfo.vrf"), good);
    ASSERT_EQ(UninstallInfoVerify(dir.c_str()), 1);
    vt::WriteAll(P("VemloUninstallInfo.vrf"), good.substr(0, 255));
    EXPECT_EQ(UninstallInfoVerify(dir.c_str()), 0);
    vt::WriteAll(P("VemloUninstallInfo.vrf"), good + std::string(1, '\0'));
    EXPECT_EQ(UninstallInfoVerify(dir.c_str()), 0);
    vt::WriteAll(P("VemloUninstallInfo.vrf"), "");
    EXPECT_EQ(UninstallInfoVerify(dir.c_str()), 0);
    DeleteFileA(P("VemloUninstallInfo.vrf").c_str());
    EXPECT_EQ(UninstallInfoVerify(dir.c_str()), 0);
}

TEST_F(Digest, ResultCodesAndWhatTheyLeaveBehind)
{
    vt::WriteAll(P("r.ini"), kIni);
    DWORD code = 0;
    ASSERT_NE(Make("r.ini", "r.vrf", &code), 0);
    const std::string old = vt::ReadAll(P("r.vrf"));

    EXPECT_EQ(Make("missing.ini", "r.vrf", &code), 0);
    EXPECT_EQ(code, VRF_ERR_SIZE);
    EXPECT_EQ(vt::ReadAll(P("r.vrf")), old);

    // Locked against reading: the size is readable, the file cannot be opened.
    HANDLE lock = CreateFileA(P("r.ini").c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    code = 0;
    EXPECT_EQ(Make("r.ini", "r.vrf", &code), 0);
    EXPECT_EQ(code, VRF_ERR_OPEN);
    EXPECT_EQ(IniFileVerify(P("r.ini").c_str(), P("r.vrf").c_str()), 0);
    CloseHandle(lock);
    EXPECT_EQ(vt::ReadAll(P("r.vrf")), old);

    code = 0;
    EXPECT_EQ(IniFileMakeVrf(P("r.ini").c_str(), (dir + "\\no\\such\\r.vrf").c_str(), &code), 0);
    EXPECT_EQ(code, VRF_ERR_CREATE);

    // A read-only digest file is replaced.
    SetFileAttributesA(P("r.vrf").c_str(), FILE_ATTRIBUTE_READONLY);
    code = 0;
    EXPECT_NE(Make("r.ini", "r.vrf", &code), 0);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(IniFileVerify(P("r.ini").c_str(), P("r.vrf").c_str()), 1);
}

TEST_F(Digest, SigningAgainLaterGivesANewSaltThatVerifies)
{
    vt::WriteAll(P("t.ini"), kIni);
    DWORD code = 0;
    ASSERT_NE(Make("t.ini", "t1.vrf", &code), 0);
    Sleep(1100);
    ASSERT_NE(Make("t.ini", "t2.vrf", &code), 0);
    EXPECT_NE(vt::ReadAll(P("t1.vrf")), vt::ReadAll(P("t2.vrf")));
    EXPECT_EQ(IniFileVerify(P("t.ini").c_str(), P("t1.vrf").c_str()), 1);
    EXPECT_EQ(IniFileVerify(P("t.ini").c_str(), P("t2.vrf").c_str()), 1);
}

TEST_F(Digest, IconStampReadsBytes512To543)
{
    std::string icon(544, '\0');
    for (int i = 0; i < 544; ++i) icon[i] = (char)(i & 0xFF);
    vt::WriteAll(P("logo.ico"), icon);
    unsigned char block[32];
    memset(block, 0xEE, sizeof block);
    ASSERT_EQ(utl_ReadIconStamp(P("logo.ico").c_str(), block), 1);
    EXPECT_EQ(std::string((char*)block, 32), icon.substr(512, 32));
    vt::WriteAll(P("short.ico"), icon.substr(0, 543));
    memset(block, 0xEE, sizeof block);
    EXPECT_EQ(utl_ReadIconStamp(P("short.ico").c_str(), block), 0);
    EXPECT_EQ(block[0], 0xEE);
    EXPECT_EQ(utl_ReadIconStamp(P("none.ico").c_str(), block), 0);
}

TEST_F(Digest, IconOptionHashesTheCustomIcon)
{
    const std::string ini = "[LogoOptions]\r\nCustomIcon=1\r\nCusIconName=logo.ico\r\n";
    std::string icon(600, '\0');
    for (int i = 0; i < 600; ++i) icon[i] = (char)(i * 3);
    vt::WriteAll(P("VemloCustom.ini"), ini);
    vt::WriteAll(P("logo.ico"), icon);

    // A digest over the icon's bytes 512..543, made outside with
    //   python3: hashlib.md5(ini + salt + bytes(i * 3 % 256 for i in range(600))[512:544] + key).hexdigest()
    // (ini, salt and key as for kNamedDigest).
    const std::string salt = FixedSalt();
    vt::WriteAll(P("VemloCustom.vrf"), salt + Unhex("bdf61e16999733102af1d1c7b5af6603"));
    EXPECT_EQ(CusIniVerify(dir.c_str(), 1), 1);
    EXPECT_EQ(CusIniVerify(dir.c_str(), 0), 0);

    // A digest made by the make operation covers the fixed block instead.
    DWORD code = 0;
    ASSERT_NE(CusIniMakeVrf(&code, dir.c_str()), 0);
    EXPECT_EQ(CusIniVerify(dir.c_str(), 0), 1);
    EXPECT_EQ(CusIniVerify(dir.c_str(), 1), 0);
    // With an icon file of 543 bytes the option changes nothing.
    vt::WriteAll(P("logo.ico"), icon.substr(0, 543));
    EXPECT_EQ(CusIniVerify(dir.c_str(), 1), 1);
    DeleteFileA(P("logo.ico").c_str());
    EXPECT_EQ(CusIniVerify(dir.c_str(), 1), 1);
}

TEST_F(Digest, MakeWithoutAFolderUsesTheRunDirectory)
{
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    std::string bin(self);
    bin = bin.substr(0, bin.find_last_of('\\'));
    std::string custom = bin + "\\custom", wbq = bin + "\\WBQ";
    vt::RemoveTree(custom);
    vt::RemoveTree(wbq);
    DWORD code = 0;
    EXPECT_EQ(CusIniMakeVrf(&code, nullptr), 0);
    EXPECT_EQ(code, VRF_ERR_SIZE);
    vt::MakeDirs(custom);
    vt::MakeDirs(wbq);
    vt::WriteAll(custom + "\\VemloCustom.ini", kIni);
    vt::WriteAll(custom + "\\VemloUninstallInfo.ini", kIni);
    vt::WriteAll(wbq + "\\WBQUninstall.ini", kIni);
    code = 0;
    EXPECT_NE(CusIniMakeVrf(&code, nullptr), 0);
    EXPECT_NE(UninstallInfoMakeVrf(&code, nullptr), 0);
    EXPECT_NE(WBQUninstallMakeVrf(&code, nullptr), 0);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(CusIniVerify(custom.c_str(), 0), 1);
    EXPECT_EQ(UninstallInfoVerify(custom.c_str()), 1);
    EXPECT_EQ(WBQUninstallVerify(wbq.c_str()), 1);
    vt::RemoveTree(custom);
    vt::RemoveTree(wbq);
}

}  // namespace
