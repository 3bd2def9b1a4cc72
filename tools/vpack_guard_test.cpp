// vpack uninstall-check, run as the real program against this prefix's files and registry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/testutil.h"

namespace {

const std::string kLogDir = "c:\\VemloLog";
const std::string kCommon = "C:\\vtest\\vpack_guard_cpf";
const char kNewUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{8E41B2D6-3C7A-4A95-B1F0-6D2C8E9A7B43}";

void SetReg(const char* subkey, const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
}

void DeleteTree(const char* parent, const char* child)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parent, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    RegDeleteTreeA(key, child);
    RegCloseKey(key);
}

// Runs bin\vpack.exe with its standard output and error in files; returns the exit code.
int RunVpack(const std::vector<std::string>& args, std::string* out)
{
    return vt::RunTool(vt::BinDir() + "\\vpack.exe", args, out, nullptr);
}

std::string LogPath() { return kLogDir + "\\stp_setup" + vt::TodayStamp() + ".log"; }

class UninstallCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetEnvironmentVariableA("CommonProgramFiles", kCommon.c_str());  // inherited by vpack
        Clean();
    }
    void TearDown() override { Clean(); }
    void Clean()
    {
        vt::RemoveTree(kLogDir);
        vt::RemoveTree(kCommon);
        DeleteTree("SOFTWARE", "Vemlo");
        DeleteTree("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                   "{8E41B2D6-3C7A-4A95-B1F0-6D2C8E9A7B43}");
    }
};

TEST_F(UninstallCheck, ProtectedClientAsksAndShowsWhere)
{
    DWORD one = 1;
    SetReg("SOFTWARE\\Vemlo", "Uninstall", REG_DWORD, &one, 4);
    SetReg("SOFTWARE\\Vemlo", "UninstallPwd", REG_SZ, "c3VwcG9ydA==", 13);
    SetReg(kNewUninstallKey, "DisplayVersion", REG_SZ, "5.2.408.1", 10);
    std::string out;
    EXPECT_EQ(RunVpack({"uninstall-check"}, &out), 0);
    EXPECT_EQ(out, "setup would ask for the uninstall password: yes\r\n"
                   "stored password text: c3VwcG9ydA==\r\n"
                   "detail log: " + LogPath() + "\r\n");
    std::string log = vt::ReadAll(LogPath());
    EXPECT_NE(log.find("IsUninstallPrompt:Need prompt uninstall password Dlg\r\n"), std::string::npos) << log;
}

TEST_F(UninstallCheck, UnprotectedClientDoesNotAsk)
{
    std::string out;
    EXPECT_EQ(RunVpack({"uninstall-check"}, &out), 0);
    EXPECT_EQ(out, "setup would ask for the uninstall password: no\r\n"
                   "stored password text: (none)\r\n"
                   "detail log: " + LogPath() + "\r\n");
    EXPECT_NE(vt::ReadAll(LogPath()).find("IsUninstallPrompt:!dwResult, return false.\r\n"), std::string::npos);
}

TEST_F(UninstallCheck, TakesNoArguments)
{
    std::string out;
    EXPECT_EQ(RunVpack({"uninstall-check", "extra"}, &out), 2);
    EXPECT_EQ(out, "usage: vpack uninstall-check\r\n");
}

}  // namespace
