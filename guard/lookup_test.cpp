// Uninstall-password lookup under Wine: real settings files and digests, real backups in the
// system folder, the real registry of the prefix; every road with its exact detail-log lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "custom/custom.h"
#include "guard/guard.h"
#include "testing/testutil.h"

namespace {

const std::string kLogDir = "c:\\VemloLog";
const char kModule[] = "lookupTest";
const std::string kCommon = "C:\\vtest\\lookup_cpf";
const std::string kReginfo = kCommon + "\\Vemlo\\Pelvar Client\\reginfo";
const std::string kStage = "C:\\vtest\\lookup_stage";
const char* const kBackupNames[] = {"VemloCustom.ini", "VemloCustom.vrf", "VemloUninstallInfo.ini",
                                    "VemloUninstallInfo.vrf", "WBQUninstall.ini", "WBQUninstall.vrf"};

const char kNewUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{8E41B2D6-3C7A-4A95-B1F0-6D2C8E9A7B43}";
const char kOldUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5A3E7C21-9B4D-4F10-8C2E-1D6B9A0E4F37}";

const std::string P = "IsUninstallPrompt:";
const std::string W = "IsWBQUninstallPrompt:";
const std::string L = "utl_LoadCusIniFile:";

std::string SystemFolder()
{
    char root[MAX_PATH] = "";
    GetEnvironmentVariableA("SystemRoot", root, sizeof root);
    return std::string(root) + "\\system32";
}

// The messages of the module's detail log of today, without time stamp and thread.
std::vector<std::string> Messages(const std::string& module = kModule)
{
    std::vector<std::string> out;
    for (const std::string& line : vt::SplitLines(vt::ReadAll(kLogDir + "\\stp_" + module + vt::TodayStamp() + ".log"))) {
        size_t thread = line.find("] [0x");
        size_t end = thread == std::string::npos ? thread : line.find("] ", thread + 2);
        out.push_back(end == std::string::npos ? line : line.substr(end + 2));
    }
    return out;
}

void SetReg(const char* subkey, const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
}
void SetDword(const char* subkey, const char* name, DWORD v) { SetReg(subkey, name, REG_DWORD, &v, 4); }
void SetText(const char* subkey, const char* name, const std::string& s)
{
    SetReg(subkey, name, REG_SZ, s.c_str(), (DWORD)s.size() + 1);
}

void DeleteTree(const char* parent, const char* child)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parent, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    RegDeleteTreeA(key, child);
    RegCloseKey(key);
}

void CleanRegistry()
{
    DeleteTree("SOFTWARE", "Vemlo");
    DeleteTree("SOFTWARE\\R9D", "Vemlo");
    DeleteTree("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", "{8E41B2D6-3C7A-4A95-B1F0-6D2C8E9A7B43}");
    DeleteTree("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", "{5A3E7C21-9B4D-4F10-8C2E-1D6B9A0E4F37}");
    // "SOFTWARE\R9D" itself only when nothing else lives in it.
    HKEY software;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS, &software) == ERROR_SUCCESS) {
        RegDeleteKeyA(software, "R9D");
        RegCloseKey(software);
    }
}

// Writes folder\<stem>.ini and signs it with the client's digest.
void MakeCustomPair(const std::string& folder, const std::string& ini)
{
    vt::MakeDirs(folder);
    ASSERT_TRUE(vt::WriteAll(folder + "\\VemloCustom.ini", ini));
    DWORD code = 0;
    ASSERT_NE(CusIniMakeVrf(&code, folder.c_str()), 0) << code;
}
void MakeUninstallPair(const std::string& folder, const std::string& ini)
{
    vt::MakeDirs(folder);
    ASSERT_TRUE(vt::WriteAll(folder + "\\VemloUninstallInfo.ini", ini));
    DWORD code = 0;
    ASSERT_NE(UninstallInfoMakeVrf(&code, folder.c_str()), 0) << code;
}
// Puts a file of the staging folder into the system folder as a backup copy.
void PlaceBackup(const std::string& name)
{
    ASSERT_TRUE(CopyFileA((kStage + "\\" + name).c_str(), (SystemFolder() + "\\" + name).c_str(), FALSE));
}

std::string Join(const std::string& a, const std::string& b) { return a + " ,So copy bak files!" + b; }

class Lookup : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The common program files folder is cached for the process: every test names the same.
        SetEnvironmentVariableA("CommonProgramFiles", kCommon.c_str());
        char root[MAX_PATH] = "";
        GetEnvironmentVariableA("SystemRoot", root, sizeof root);
        systemRoot_ = root;
        Clean();
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("SystemRoot", systemRoot_.c_str());
        Clean();
    }
    void Clean()
    {
        vt::RemoveTree(kLogDir);
        vt::RemoveTree(kCommon);
        vt::RemoveTree(kStage);
        vt::RemoveTree("C:\\vtest\\lookup_wbq");
        for (const char* name : kBackupNames) {
            std::string path = SystemFolder() + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
        CleanRegistry();
    }
    std::string systemRoot_;
};

// The two lines of utl_LoadCusIniFile when neither place holds a valid customisation pair.
const std::vector<std::string> kLoadFailed = {L + "CusIniVerify new failed,try for old.",
                                              L + "CusIniVerify old failed,return false."};
const std::string kCustomRestoreNoBackup =
    P + Join("verifying VemloCustom info FAILED with Err ", "CopyFile VemloCustom.ini return false!");
const std::string kUninstallRestoreNoBackup =
    P + Join("verifying uninstall info FAILED with Err ", "CopyFile VemloUninstallInfo.ini return false!");

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(Lookup, NullBufferLogsOneLineAndTouchesNothing)
{
    EXPECT_EQ(IsUninstallPrompt(kModule, nullptr), 0);
    EXPECT_EQ(Messages(), std::vector<std::string>{P + "parameter err."});
    EXPECT_FALSE(vt::Exists(kCommon));  // the reginfo folder was not even created
    EXPECT_EQ(IsWBQUninstallPrompt(kModule, nullptr), 0);
    EXPECT_EQ(Messages().back(), W + "parameter err.");
}

TEST_F(Lookup, ValidCustomPairDecidesWithItsPasswordAndTheNewUninstallEntry)
{
    MakeCustomPair(kReginfo, "[Functions]\r\nUninstall=1\r\nInstall=q83vEjRWeJA=\r\n");
    SetText(kNewUninstallKey, "DisplayVersion", "5.2.408.1");
    char pwd[128] = {};
    EXPECT_EQ(IsUninstallPrompt(kModule, pwd), 1);
    EXPECT_STREQ(pwd, "q83vEjRWeJA=");
    EXPECT_EQ(Messages(), (std::vector<std::string>{P + "Get UninstallPwd from VemloCustom.ini succ.",
                                                    P + "Get Version from reg succ. 5.2.408.1",
                                                    P + "Need prompt uninstall password Dlg"}));
}

TEST_F(Lookup, ValidCustomPairWithoutFlagWinsOverTheRegistry)
{
    MakeCustomPair(kReginfo, "[Functions]\r\nOther=1\r\n");
    SetDword("SOFTWARE\\Vemlo", "Uninstall", 1);
    SetText("SOFTWARE\\Vemlo", "UninstallPwd", "fromreg");
    SetText(kNewUninstallKey, "DisplayVersion", "5.2");
    char pwd[128] = "left over";
    EXPECT_EQ(IsUninstallPrompt(kModule, pwd), 0);
    EXPECT_STREQ(pwd, "");  // a settings read always writes the buffer
    EXPECT_EQ(Messages(), std::vector<std::string>{P + "!dwResult, return false."});
}

TEST_F(Lookup, InvalidCustomPairIsRestoredFromTheSystemFolder)
{
    MakeCustomPair(kStage, "[Functions]\r\nUninstall=1\r\nInstall=YmFja3Vw\r\n");
    PlaceBackup("VemloCustom.ini");
    PlaceBackup("VemloCustom.vrf");
    MakeCustomPair(kReginfo, "[Functions]\r\nUninstall=0\r\n");
    vt::WriteAll(kReginfo + "\\VemloCustom.ini", "[Functions]\r\nUninstall=2\r\n");  // tampered
    SetText(kOldUninstallKey, "DisplayVersion", "4.9");

    char pwd[128] = {};
    EXPECT_EQ(IsUninstallPrompt(kModule, pwd), 1);
    EXPECT_STREQ(pwd, "YmFja3Vw");
    EXPECT_EQ(Messages(), Concat(kLoadFailed, {P + Join("verifying VemloCustom info FAILED with Err ", ""),
                                               P + "Get UninstallPwd from VemloCustom.ini succ.",
                                               P + "Get Version from new reg failed, try old.",
                                               P + "Get Version from old reg succ, return true."}));
    EXPECT_EQ(vt::ReadAll(kReginfo + "\\VemloCustom.ini"), vt::ReadAll(kStage + "\\VemloCustom.ini"));
    EXPECT_EQ(vt::ReadAll(kReginfo + "\\VemloCustom.vrf"), vt::ReadAll(kStage + "\\VemloCustom.vrf"));
}

TEST_F(Lookup, BackupThatDoesNotVerifyFallsThroughToUninstallInformation)
{
    MakeCustomPair(kStage, "[Functions]\r\nUninstall=1\r\n");
    vt::WriteAll(kStage + "\\VemloCustom.ini", "[Functions]\r\nUninstall=1\r\nInstall=x\r\n");
    PlaceBackup("VemloCustom.ini");
    PlaceBackup("VemloCustom.vrf");
    MakeUninstallPair(kReginfo, "[Functions]\r\nUninstall=1\r\nInstall=dW5pbnN0\r\n");
    SetText(kNewUninstallKey, "DisplayVersion", "5.3");

    char pwd[128] = {};
    EXPECT_EQ(IsUninstallPrompt(kModule, pwd), 1);
    EXPECT_STREQ(pwd, "dW5pbnN0");
    EXPECT_EQ(Messages(),
              Concat(kLoadFailed, {P + Join("verifying VemloCustom info FAILED with Err ",
                                            "verifying VemloCustom info FAILED again!"),
                                   P + "Get UninstallPwd from VemloUninstallInfo.ini succ.",
                                   P + "Get Version from reg succ. 5.3", P + "Need prompt uninstall password Dlg"}));
}

TEST_F(Lookup, MissingDigestBackupEndsTheRestore)
{
    MakeCustomPair(kStage, "[Functions]\r\nUninstall=1\r\n");
    PlaceBackup("VemloCustom.ini");  // its digest has no backup
    MakeUninstallPair(kStage, "[Functions]\r\nUninstall=1\r\n");
    PlaceBackup("VemloUninstallInfo.ini");
    char pwd[128] = {};
    EXPECT_EQ(IsUninstallPrompt(kModule, pwd), 0);
    std::vector<std::string> m = Messages();
    ASSERT_GE(m.size(), 4u);
    EXPECT_EQ(m[2], P + Join("verifying VemloCustom info FAILED with Err ", "CopyFile VemloCustom.vrf return false!"));
    EXPECT_EQ(m[3], P + Join("verifying uninstall info FAILED with Err ", "CopyFile VemloUninstallInfo.vrf return false!"));
    // The settings file copied before the failure stays.
    EXPECT_EQ(vt::ReadAll(kReginfo + "\\VemloCustom.ini"), vt::ReadAll(kStage + "\\VemloCustom.ini"));
}

TEST_F(Lookup, UninstallInformationPairRestoredFromBackupAndReverified)
{
    MakeUninstallPair(kStage, "[Functions]\r\nUninstall=1\r\nInstall=YWJj\r\n");
    PlaceBackup("VemloUninstallInfo.ini");
    PlaceBackup("VemloUninstallInfo.vrf");
    SetText(kNewUninstallKey, "DisplayVersion", "5.3");
    char pwd[128] = {};
    EXPECT_EQ(IsUninstallPrompt(kModule, pwd), 1);
    EXPECT_STREQ(pwd, "YWJj");
    EXPECT_EQ(Messages(), Concat(kLoadFailed, {kCustomRestoreNoBackup,
                                               P + Join("verifying uninstall info FAILED with Err ", ""),
                                               P + "Get UninstallPwd from VemloUninstallInfo.ini succ.",
                                               P + "Get Version from reg succ. 5.3",
                                               P + "Need prompt uninstall password Dlg"}));

    // A backup that does not verify either.
    vt::RemoveTree(kLogDir);
    vt::WriteAll(SystemFolder() + "\\VemloUninstallInfo.ini", "[Functions]\r\nUninstall=0\r\n");
    vt::WriteAll(kReginfo + "\\VemloUninstallInfo.ini", "tampered");
    EXPECT_EQ(Messages().size(), 0u);
    IsUninstallPrompt(kModule, pwd);
    std::vector<std::string> m = Messages();
    ASSERT_GE(m.size(), 4u);
    EXPECT_EQ(m[3], P + Join("verifying uninstall info FAILED with Err ", "verifying Uninstall info FAILED again!"));
    EXPECT_EQ(m[4], P + "Get Uninstall from reg failed");
}

TEST_F(Lookup, RegistryUnderVemloKey)
{
    SetDword("SOFTWARE\\Vemlo", "Uninstall", 1);
    SetText("SOFTWARE\\Vemlo", "UninstallPwd", "cmVnaXN0cnk=");
    SetDword("SOFTWARE\\R9D\\Vemlo", "Uninstall", 0);
    SetText(kNewUninstallKey, "DisplayVersion", "5.2.408.1");
    char pwd[128] = {};
    EXPECT_EQ(IsUninstallPrompt(kModule, pwd), 1);
    EXPECT_STREQ(pwd, "cmVnaXN0cnk=");
    EXPECT_EQ(Messages(), Concat(kLoadFailed, {kCustomRestoreNoBackup, kUninstallRestoreNoBackup,
                                               P + "Get Uninstall from reg succ", P + "Get UninstallPwd from reg Succ.",
                                               P + "Get Version from reg succ. 5.2.408.1",
                                               P + "Need prompt uninstall password Dlg"}));
}

TEST_F(Lookup, RegistryUnderOldKeyGivesItsOwnPassword)
{
    SetText("SOFTWARE\\Vemlo", "UninstallPwd", "bmV3");  // no flag here
    SetDword("SOFTWARE\\R9D\\Vemlo", "Uninstall", 1);
    SetText("SOFTWARE\\R9D\\Vemlo", "UninstallPwd", "b2xk");
    SetText(kOldUninstallKey, "DisplayVersion", "4.0");
    char pwd[128] = {};
    EXPECT_EQ(IsUninstallPrompt(kModule, pwd), 1);
    EXPECT_STREQ(pwd, "b2xk");
    EXPECT_EQ(Messages(), Concat(kLoadFailed, {kCustomRestoreNoBackup, kUninstallRestoreNoBackup,
                                               P + "Get Uninstall from reg failed", P + "Get UninstallPwd from reg Succ.",
                                               P + "Get Version from new reg failed, try old.",
                                               P + "Get Version from old reg succ, return true."}));
}

TEST_F(Lookup, FlagWithoutPasswordStillAsksWhenInstalled)
{
    SetDword("SOFTWARE\\Vemlo", "Uninstall", 1);
    SetText(kNewUninstallKey, "DisplayVersion", "5.2");
    char pwd[128] = {};
    EXPECT_EQ(IsUninstallPrompt(kModule, pwd), 1);
    EXPECT_EQ(std::string(pwd, sizeof pwd), std::string(128, '\0'));  // a failed registry read leaves it
    std::vector<std::string> m = Messages();
    ASSERT_EQ(m.size(), 8u);
    EXPECT_EQ(m[4], P + "Get Uninstall from reg succ");
    EXPECT_EQ(m[5], P + "Get UninstallPwd from reg fail,Return true.");
    EXPECT_EQ(m[7], P + "Need prompt uninstall password Dlg");
}

TEST_F(Lookup, StoredPasswordOf128CharactersIsNotTaken)
{
    SetDword("SOFTWARE\\Vemlo", "Uninstall", 1);
    SetText("SOFTWARE\\Vemlo", "UninstallPwd", std::string(128, 'A'));
    SetText(kNewUninstallKey, "DisplayVersion", "5.2");
    char pwd[160];
    memset(pwd, 'z', sizeof pwd);
    EXPECT_EQ(IsUninstallPrompt(kModule, pwd), 1);
    EXPECT_EQ(std::string(pwd, sizeof pwd), std::string(160, 'z'));
    EXPECT_EQ(Messages()[5], P + "Get UninstallPwd from reg fail,Return true.");

    SetText("SOFTWARE\\Vemlo", "UninstallPwd", std::string(127, 'B'));
    EXPECT_EQ(IsUninstallPrompt(kModule, pwd), 1);
    EXPECT_EQ(std::string(pwd), std::string(127, 'B'));
}

TEST_F(Lookup, NoClientInstalledMeansNoPrompt)
{
    SetDword("SOFTWARE\\Vemlo", "Uninstall", 1);
    SetText("SOFTWARE\\Vemlo", "UninstallPwd", "eA==");
    char pwd[128] = {};
    EXPECT_EQ(IsUninstallPrompt(kModule, pwd), 0);
    std::vector<std::string> m = Messages();
    ASSERT_EQ(m.size(), 8u);
    EXPECT_EQ(m[6], P + "Get Version from new reg failed, try old.");
    EXPECT_EQ(m[7], P + "Get Version from old reg failed, return false.");
}

TEST_F(Lookup, NoFlagAnywhere)
{
    SetText(kNewUninstallKey, "DisplayVersion", "5.2");
    char pwd[128] = {};
    EXPECT_EQ(IsUninstallPrompt(kModule, pwd), 0);
    EXPECT_EQ(Messages(), Concat(kLoadFailed, {kCustomRestoreNoBackup, kUninstallRestoreNoBackup,
                                               P + "Get Uninstall from reg failed",
                                               P + "Get Uninstall from old reg failed",
                                               P + "Get UninstallPwd from reg fail,Return true.",
                                               P + "!dwResult, return false."}));
}

TEST_F(Lookup, OversizedRegistryFlagIsNotTakenAsSet)
{
    // An eight-byte "Uninstall" is not a flag: it must not leave garbage that reads as set.
    SetReg("SOFTWARE\\Vemlo", "Uninstall", REG_QWORD, "\x01\x00\x00\x00\x00\x00\x00\x00", 8);
    SetText(kNewUninstallKey, "DisplayVersion", "5.2");
    char pwd[128] = {};
    EXPECT_EQ(IsUninstallPrompt(kModule, pwd), 0);
    EXPECT_EQ(Messages().back(), P + "!dwResult, return false.");
}

TEST_F(Lookup, WithoutSystemRootTheRestoreEndsInCopyFailures)
{
    MakeCustomPair(kStage, "[Functions]\r\nUninstall=1\r\n");
    PlaceBackup("VemloCustom.ini");
    PlaceBackup("VemloCustom.vrf");
    ASSERT_TRUE(SetEnvironmentVariableA("SystemRoot", NULL));
    char pwd[128] = {};
    EXPECT_EQ(IsUninstallPrompt(kModule, pwd), 0);
    std::vector<std::string> m = Messages();
    ASSERT_GE(m.size(), 4u);
    EXPECT_EQ(m[2], kCustomRestoreNoBackup);
    EXPECT_EQ(m[3], kUninstallRestoreNoBackup);
    EXPECT_FALSE(vt::Exists(kReginfo + "\\VemloCustom.ini"));
}

// ---- The companion product ------------------------------------------------------------------

const std::string kWbq = "C:\\vtest\\lookup_wbq";

void MakeWbqPair(const std::string& folder, const std::string& ini)
{
    vt::MakeDirs(folder);
    ASSERT_TRUE(vt::WriteAll(folder + "\\WBQUninstall.ini", ini));
    DWORD code = 0;
    ASSERT_NE(WBQUninstallMakeVrf(&code, folder.c_str()), 0) << code;
}

TEST_F(Lookup, WbqWithoutInstallPathOrFolder)
{
    char pwd[128] = {};
    EXPECT_EQ(IsWBQUninstallPrompt(kModule, pwd), 0);
    SetText("SOFTWARE\\Vemlo\\WBQ", "WBQPath", kWbq);
    EXPECT_EQ(IsWBQUninstallPrompt(kModule, pwd), 0);
    EXPECT_EQ(Messages(), (std::vector<std::string>{W + "Get WBQ install path fail.", W + "WBQ install path, not exist."}));
}

TEST_F(Lookup, WbqFlagWithoutPasswordAsks)
{
    MakeWbqPair(kWbq, "[CusInfo]\r\nWBQUninstall=1\r\n");
    SetText("SOFTWARE\\Vemlo\\WBQ", "WBQPath", kWbq);
    char pwd[128] = "x";
    EXPECT_EQ(IsWBQUninstallPrompt(kModule, pwd), 1);
    EXPECT_STREQ(pwd, "");
    EXPECT_EQ(Messages(), std::vector<std::string>{W + "Need prompt uninstall password Dlg"});
}

TEST_F(Lookup, WbqMissingFilesAreRestoredBeforeVerifying)
{
    MakeWbqPair(kStage, "[CusInfo]\r\nWBQUninstall=1\r\nWBQUninstallPass=d2Jx\r\n");
    SetText("SOFTWARE\\Vemlo\\WBQ", "WBQPath", kWbq);
    vt::MakeDirs(kWbq);
    char pwd[128] = {};
    EXPECT_EQ(IsWBQUninstallPrompt(kModule, pwd), 0);
    PlaceBackup("WBQUninstall.vrf");
    EXPECT_EQ(IsWBQUninstallPrompt(kModule, pwd), 0);
    PlaceBackup("WBQUninstall.ini");
    EXPECT_EQ(IsWBQUninstallPrompt(kModule, pwd), 1);
    EXPECT_STREQ(pwd, "d2Jx");
    EXPECT_EQ(Messages(), (std::vector<std::string>{
                              W + "WBQUninstall.vrf not exist, copyBak WBQUninstall.vrf return false!",
                              W + "WBQUninstall.ini not exist, copyBak WBQUninstall.ini return false!",
                              W + "Get UninstallPwd from WBQUninstall.ini succ.",
                              W + "Need prompt uninstall password Dlg"}));
}

TEST_F(Lookup, WbqTamperedPairIsRestoredOrReported)
{
    MakeWbqPair(kStage, "[CusInfo]\r\nWBQUninstall=0\r\n");
    MakeWbqPair(kWbq, "[CusInfo]\r\nWBQUninstall=1\r\n");
    vt::WriteAll(kWbq + "\\WBQUninstall.ini", "[CusInfo]\r\nWBQUninstall=2\r\n");
    SetText("SOFTWARE\\Vemlo\\WBQ", "WBQPath", kWbq);
    char pwd[128] = {};
    EXPECT_EQ(IsWBQUninstallPrompt(kModule, pwd), 0);  // no backups
    PlaceBackup("WBQUninstall.ini");
    EXPECT_EQ(IsWBQUninstallPrompt(kModule, pwd), 0);  // digest backup missing
    PlaceBackup("WBQUninstall.vrf");
    EXPECT_EQ(IsWBQUninstallPrompt(kModule, pwd), 0);  // restored: the flag is 0
    vt::WriteAll(kWbq + "\\WBQUninstall.ini", "tampered");
    vt::WriteAll(SystemFolder() + "\\WBQUninstall.ini", "tampered too");
    EXPECT_EQ(IsWBQUninstallPrompt(kModule, pwd), 0);
    const std::string head = W + "WBQ Uninstall Verify failed. copy bak";
    EXPECT_EQ(Messages(), (std::vector<std::string>{head + "CopyFile WBQUninstall.ini return false!",
                                                    head + "CopyFile WBQUninstall.vrf return false!",
                                                    W + "NO need uninstall password Dlg", head + " re Verify fail"}));
}

}  // namespace
