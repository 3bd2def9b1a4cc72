// Client settings files: bounded ini reads, the writers' text, custom options, the guarded change
// of VemloCustom.ini, the section test, the file version query and the version caption.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "custom/custom.h"
#include "testing/testutil.h"

namespace {

std::string Dir(const char* name) { return vt::FreshDir(std::string("settings_") + name); }

// ---- utl_ReadIniString ------------------------------------------------------------------------

TEST(ReadIniString, CapacityMustExceed128AndTheRestIsZeroed)
{
    std::string ini = Dir("read") + "\\a.ini";
    vt::WriteAll(ini, "[S]\r\nK=value\r\nLong=" + std::string(200, 'L') + "\r\nEmpty=\r\n");
    char out[200];
    memset(out, 'u', sizeof out);
    EXPECT_EQ(utl_ReadIniString(ini.c_str(), "S", "K", out, 128), 0);
    EXPECT_EQ(out[0], 'u');
    EXPECT_EQ(utl_ReadIniString(ini.c_str(), "S", "K", out, 129), 5);
    EXPECT_EQ(std::string(out, 129), "value" + std::string(124, '\0'));
    EXPECT_EQ(out[129], 'u');  // nothing beyond the capacity

    EXPECT_EQ(utl_ReadIniString(ini.c_str(), "S", "Long", out, 200), 127);
    EXPECT_EQ(std::string(out), std::string(127, 'L'));

    // Missing and empty look the same: 0, the buffer as it was.
    memset(out, 'u', sizeof out);
    EXPECT_EQ(utl_ReadIniString(ini.c_str(), "S", "Missing", out, 200), 0);
    EXPECT_EQ(utl_ReadIniString(ini.c_str(), "S", "Empty", out, 200), 0);
    EXPECT_EQ(out[0], 'u');
    EXPECT_EQ(utl_ReadIniString(nullptr, "S", "K", out, 200), 0);
    EXPECT_EQ(utl_ReadIniString(ini.c_str(), nullptr, "K", out, 200), 0);
    EXPECT_EQ(utl_ReadIniString(ini.c_str(), "S", "K", nullptr, 200), 0);
}

// ---- Writers ------------------------------------------------------------------------------------

TEST(IniWriters, NumbersAreWrittenSignedOrUnsigned)
{
    std::string ini = Dir("write") + "\\w.ini";
    EXPECT_NE(utl_WriteIniInt("Net", "Retries", -5, ini.c_str()), 0);
    EXPECT_NE(utl_WriteSupportedConnTypes("Net", -2147483647 - 1, ini.c_str()), 0);
    EXPECT_NE(utl_WriteComponents(4294967295u, 0u, ini.c_str()), 0);
    EXPECT_NE(utl_WriteIniString("Net", "Name", "Vemlo PC", ini.c_str()), 0);
    char buf[64];
    GetPrivateProfileStringA("Net", "Retries", "", buf, sizeof buf, ini.c_str());
    EXPECT_STREQ(buf, "-5");
    GetPrivateProfileStringA("Net", "SupportedConnTypes", "", buf, sizeof buf, ini.c_str());
    EXPECT_STREQ(buf, "-2147483648");
    GetPrivateProfileStringA("Components", "ProtoComponents", "", buf, sizeof buf, ini.c_str());
    EXPECT_STREQ(buf, "4294967295");
    GetPrivateProfileStringA("Components", "FuncComponents", "", buf, sizeof buf, ini.c_str());
    EXPECT_STREQ(buf, "0");
    GetPrivateProfileStringA("Net", "Name", "", buf, sizeof buf, ini.c_str());
    EXPECT_STREQ(buf, "Vemlo PC");
}

TEST(IniWriters, FailedWriteIsReported)
{
    std::string dir = Dir("write_fail");
    std::string ini = dir + "\\missing folder\\w.ini";
    EXPECT_EQ(utl_WriteComponents(1, 2, ini.c_str()), 0);
    EXPECT_EQ(utl_WriteIniInt("S", "K", 1, ini.c_str()), 0);
}

// ---- utl_ReadCustomOptions --------------------------------------------------------------------

TEST(CustomOptionsRead, FieldsFromTheirSections)
{
    std::string dir = Dir("options");
    CustomOptions o;
    memset(&o, 0x55, sizeof o);
    EXPECT_EQ(utl_ReadCustomOptions(dir.c_str(), &o), 0);
    EXPECT_EQ(o.CustomIcon, 0x55555555);  // untouched without the file

    vt::WriteAll(dir + "\\VemloCustom.ini",
                 "[LogoOptions]\r\nCustomIcon=1\r\nCusIconName=logo.ico\r\n[OtherOptions]\r\nSilentInstall=2\r\n"
                 "SilentUpd=3\r\n[WBQ]\r\nMakeSetup=4\r\n");
    EXPECT_EQ(utl_ReadCustomOptions(dir.c_str(), &o), 1);
    EXPECT_EQ(o.CustomIcon, 1);
    EXPECT_EQ(o.SilentInstall, 2);
    EXPECT_EQ(o.SilentUpd, 3);
    EXPECT_EQ(o.MakeSetup, 4);
    EXPECT_STREQ(o.CusIconName, "logo.ico");
    EXPECT_EQ(o.CusIconName[260], '\0');

    // Missing keys: integers 0, the name as the caller left it.
    vt::WriteAll(dir + "\\VemloCustom.ini", "[OtherOptions]\r\nSilentUpd=1\r\n");
    strcpy(o.CusIconName, "kept.ico");
    EXPECT_EQ(utl_ReadCustomOptions(dir.c_str(), &o), 1);
    EXPECT_EQ(o.CustomIcon, 0);
    EXPECT_EQ(o.SilentUpd, 1);
    EXPECT_STREQ(o.CusIconName, "kept.ico");
}

// ---- utl_SetCustomIniValue ----------------------------------------------------------------------

class SetCustomValue : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = Dir("set");
        ini_ = dir_ + "\\VemloCustom.ini";
        vrf_ = dir_ + "\\VemloCustom.vrf";
    }
    void Sign(const std::string& text)
    {
        ASSERT_TRUE(vt::WriteAll(ini_, text));
        DWORD code = 0;
        ASSERT_NE(CusIniMakeVrf(&code, dir_.c_str()), 0) << code;
    }
    std::string Value(const char* section, const char* key)
    {
        char buf[256];
        GetPrivateProfileStringA(section, key, "", buf, sizeof buf, ini_.c_str());
        return buf;
    }
    std::string dir_, ini_, vrf_;
};

TEST_F(SetCustomValue, MissingFile)
{
    EXPECT_EQ(utl_SetCustomIniValue(dir_.c_str(), "Functions", "Uninstall", "1"), 1001u);
    EXPECT_EQ(utl_SetCustomIniValue(nullptr, "Functions", "Uninstall", "1"), 1001u);
}

TEST_F(SetCustomValue, ChangeIsWrittenAndSignedAgain)
{
    Sign("[Functions]\r\nUninstall=0\r\n");
    std::string oldVrf = vt::ReadAll(vrf_);
    EXPECT_EQ(utl_SetCustomIniValue(dir_.c_str(), "Functions", "Uninstall", "1"), 0u);
    EXPECT_EQ(Value("Functions", "Uninstall"), "1");
    EXPECT_NE(vt::ReadAll(vrf_), oldVrf);
    EXPECT_NE(CusIniVerify(dir_.c_str(), 0), 0);
    // A new key of a new section, too.
    EXPECT_EQ(utl_SetCustomIniValue(dir_.c_str(), "OtherOptions", "SilentUpd", "1"), 0u);
    EXPECT_NE(CusIniVerify(dir_.c_str(), 0), 0);
}

TEST_F(SetCustomValue, EqualValueWritesNothingEvenWithADamagedDigest)
{
    Sign("[Functions]\r\nInstall=abc\r\n");
    vt::WriteAll(vrf_, "damaged");
    std::string ini = vt::ReadAll(ini_);
    EXPECT_EQ(utl_SetCustomIniValue(dir_.c_str(), "Functions", "Install", "abc"), 0u);
    EXPECT_EQ(vt::ReadAll(ini_), ini);
    EXPECT_EQ(vt::ReadAll(vrf_), "damaged");
}

TEST_F(SetCustomValue, TamperedPairIsRefusedAndLeftAsItWas)
{
    Sign("[Functions]\r\nUninstall=0\r\n");
    std::string vrf = vt::ReadAll(vrf_);
    vrf[250] ^= 1;  // one bit of the stored digest
    vt::WriteAll(vrf_, vrf);
    EXPECT_EQ(utl_SetCustomIniValue(dir_.c_str(), "Functions", "Uninstall", "1"), 1002u);
    EXPECT_EQ(vt::ReadAll(ini_), "[Functions]\r\nUninstall=0\r\n");
    EXPECT_EQ(vt::ReadAll(vrf_), vrf);

    Sign("[Functions]\r\nUninstall=0\r\n");
    vt::WriteAll(ini_, "[Functions]\r\nUninstall=9\r\n");  // the settings file edited
    EXPECT_EQ(utl_SetCustomIniValue(dir_.c_str(), "Functions", "Uninstall", "1"), 1002u);
    EXPECT_EQ(vt::ReadAll(ini_), "[Functions]\r\nUninstall=9\r\n");
}

TEST_F(SetCustomValue, FailedWriteMovesTheFileAside)
{
    Sign("[Functions]\r\nUninstall=0\r\n");
    // Another process holds the file open for reading and shares it for reading and renaming
    // only: the pair still verifies, but the profile write cannot open it.
    HANDLE holder = CreateFileA(ini_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL,
                                OPEN_EXISTING, 0, NULL);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(utl_SetCustomIniValue(dir_.c_str(), "Functions", "Uninstall", "1"), 1003u);
    CloseHandle(holder);
    EXPECT_FALSE(vt::Exists(ini_));
    EXPECT_EQ(vt::ReadAll(ini_ + ".lzj"), "[Functions]\r\nUninstall=0\r\n");
    EXPECT_EQ(CusIniVerify(dir_.c_str(), 0), 0);
}

TEST_F(SetCustomValue, FailedSigningReportsTheDigestCode)
{
    // 7800 bytes verify; the new value pushes the file past the 7820 bytes a pair may hold.
    std::string text = "[Functions]\r\nUninstall=0\r\n[Pad]\r\nP=";
    text += std::string(7800 - text.size() - 2, 'p') + "\r\n";
    ASSERT_EQ(text.size(), 7800u);
    Sign(text);
    EXPECT_EQ(utl_SetCustomIniValue(dir_.c_str(), "Functions", "Install", std::string(60, 'x').c_str()), 302u);
    EXPECT_EQ(Value("Functions", "Install"), std::string(60, 'x'));  // written all the same
}

// ---- utl_IniSectionExists -----------------------------------------------------------------------

TEST(IniSectionExists, ExactCaseSensitiveNames)
{
    std::string ini = Dir("sections") + "\\s.ini";
    EXPECT_EQ(utl_IniSectionExists("Common", ini.c_str()), 0);  // no file
    vt::WriteAll(ini, "[common]\r\nA=1\r\n[Common2]\r\nB=2\r\n");
    EXPECT_EQ(utl_IniSectionExists("Common", ini.c_str()), 0);
    EXPECT_EQ(utl_IniSectionExists("Common2", ini.c_str()), 1);
    EXPECT_EQ(utl_IniSectionExists("common", ini.c_str()), 1);
    EXPECT_EQ(utl_IniSectionExists("Comm", ini.c_str()), 0);
    EXPECT_EQ(utl_IniSectionExists(nullptr, ini.c_str()), 0);
}

TEST(IniSectionExists, SectionsBeyondTheFirst128CharactersAreFound)
{
    std::string ini = Dir("many") + "\\m.ini", text;
    for (int i = 0; i < 400; ++i) text += "[Section" + std::to_string(i) + "]\r\nK=1\r\n";
    text += "[Last]\r\nK=1\r\n";
    vt::WriteAll(ini, text);
    EXPECT_EQ(utl_IniSectionExists("Section0", ini.c_str()), 1);
    EXPECT_EQ(utl_IniSectionExists("Section399", ini.c_str()), 1);
    EXPECT_EQ(utl_IniSectionExists("Last", ini.c_str()), 1);
    EXPECT_EQ(utl_IniSectionExists("Section400", ini.c_str()), 0);
}

// ---- utl_QueryFileVersion -----------------------------------------------------------------------

TEST(QueryFileVersion, VersionResourceOfThisProgram)
{
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    FileVersionInfo info;
    memset(&info, 0xEE, sizeof info);
    ASSERT_EQ(utl_QueryFileVersion(self, &info), 1);
    EXPECT_EQ(info.ver.wMajor, 5);
    EXPECT_EQ(info.ver.wMinor, 2);
    EXPECT_EQ(info.ver.wBuild, 408);
    EXPECT_EQ(info.ver.wRevision, 1);
}

TEST(QueryFileVersion, FileWithoutVersionFailsAtTheFirstStage)
{
    std::string txt = Dir("version") + "\\plain.txt";
    vt::WriteAll(txt, "no version here");
    FileVersionInfo info;
    memset(&info, 0xEE, sizeof info);
    EXPECT_EQ(utl_QueryFileVersion(txt.c_str(), &info), 0);
    EXPECT_EQ(info.err.wStage, 1);
    EXPECT_NE(info.err.dwError, 0u);
    EXPECT_EQ(utl_QueryFileVersion((txt + ".missing").c_str(), &info), 0);
    EXPECT_EQ(info.err.wStage, 1);
    EXPECT_EQ(info.err.dwError, (DWORD)ERROR_FILE_NOT_FOUND);
}

// ---- utl_GetVersionCaption (final for a process: each case runs in a child) -------------------

// The folder of this executable, where the caption looks for VemloCustomSet.ini.
std::string RunDir()
{
    char self[MAX_PATH] = "";
    GetModuleFileNameA(NULL, self, sizeof self);
    std::string s = self;
    return s.substr(0, s.find_last_of('\\'));
}
std::string SetIni() { return RunDir() + "\\VemloCustomSet.ini"; }
std::string SetVrf() { return RunDir() + "\\VemloCustomSet.vrf"; }

bool WriteVersion(const std::string& version)
{
    if (!vt::WriteAll(SetIni(), "[Common]\r\nVersion=" + version + "\r\n")) return false;
    DWORD code = 0;
    return IniFileMakeVrf(SetIni().c_str(), SetVrf().c_str(), &code) != 0;
}

// Child: asks for the caption; with a second argument, writes and signs that version and asks
// again. Writes "<first>[|<second>]" ("(null)" for none) to the file named by argv[0].
VEMLO_CHILD(caption)
{
    if (argc < 1) return 2;
    const char* first = utl_GetVersionCaption();
    std::string out = first ? first : "(null)";
    if (argc >= 2) {
        if (!WriteVersion(argv[1])) return 3;
        const char* second = utl_GetVersionCaption();
        out += std::string("|") + (second ? second : "(null)");
    }
    return vt::WriteAll(argv[0], out) ? 0 : 4;
}

class VersionCaption : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    void Clean()
    {
        DeleteFileA(SetIni().c_str());
        DeleteFileA(SetVrf().c_str());
    }
    std::string Caption(std::vector<std::string> args = {})
    {
        std::string out = vt::FreshDir("settings_caption") + "\\out.txt";
        args.insert(args.begin(), out);
        EXPECT_EQ(vt::RunChild("caption", args), 0);
        return vt::ReadAll(out);
    }
};

TEST_F(VersionCaption, CaptionFromTheVersionParts)
{
    ASSERT_TRUE(WriteVersion("V1.23-4567X"));
    EXPECT_EQ(Caption(), "Vemlo PC 1.2 (X4567)");
    ASSERT_TRUE(WriteVersion("V9.87-0001B"));
    EXPECT_EQ(Caption(), "Vemlo PC 9.8 (B0001)");
}

TEST_F(VersionCaption, VersionsOfOtherLengthsGiveNone)
{
    ASSERT_TRUE(WriteVersion("V1.23-4567"));
    EXPECT_EQ(Caption(), "(null)");
    ASSERT_TRUE(WriteVersion("V1.23-4567XY"));
    EXPECT_EQ(Caption(), "(null)");
    ASSERT_TRUE(WriteVersion(""));
    EXPECT_EQ(Caption(), "(null)");
}

TEST_F(VersionCaption, UnverifiedOrMissingFileGivesNoneAndIsTriedAgain)
{
    EXPECT_EQ(Caption({"V1.23-4567X"}), "(null)|Vemlo PC 1.2 (X4567)");
    vt::WriteAll(SetIni(), "[Common]\r\nVersion=V2.00-0001A\r\n");  // edited after signing
    EXPECT_EQ(Caption(), "(null)");
}

TEST_F(VersionCaption, VersionWithoutDashIsFinal)
{
    ASSERT_TRUE(WriteVersion("V1.23045678"));
    EXPECT_EQ(Caption({"V1.23-4567X"}), "(null)|(null)");
}

}  // namespace
