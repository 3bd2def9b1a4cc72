// The real Setup.exe end to end: built from the stub and a package of the sample programs, run
// as its own process under Wine, with a watcher that reads and answers its windows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "guard/guard.h"
#include "package/package.h"
#include "setup/setup.h"
#include "testing/testutil.h"
#include "testing/watcher.h"

namespace {

const std::string kWork = "C:\\tmp\\VemloSetup0";
const std::string kRun = "C:\\vtest\\setuprun";
const char kStoredSecret[] = "yVkhk1/ESYo=";  // "secret" enciphered, from OpenSSL
const char kVemloKey[] = "SOFTWARE\\Vemlo";
const char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{8E41B2D6-3C7A-4A95-B1F0-6D2C8E9A7B43}";
const std::vector<std::string> kPayload = {"ulmApxSvr.exe", "VemloSetup.exe", "readme.txt", "client.ini"};

bool Chinese() { return IsChineseSystem(); }

// The message part of each setup-log line (after "[time] [thread] ").
std::vector<std::string> SetupLog()
{
    std::vector<std::string> out;
    for (auto& l : vt::SplitLines(vt::ReadAll("c:\\VemloLog\\setup" + vt::TodayStamp() + ".log"))) {
        size_t p = l.find("] [");
        p = p == std::string::npos ? p : l.find("] ", p + 3);
        out.push_back(p == std::string::npos ? l : l.substr(p + 2));
    }
    return out;
}

std::string Last(const std::vector<std::string>& lines) { return lines.empty() ? "" : lines.back(); }

bool Has(const std::vector<std::string>& lines, const std::string& what)
{
    for (auto& l : lines)
        if (l == what) return true;
    return false;
}

bool HasPrefix(const std::vector<std::string>& lines, const std::string& what)
{
    for (auto& l : lines)
        if (l.rfind(what, 0) == 0) return true;
    return false;
}

class SetupRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (auto d : {"c:\\VemloLog", "C:\\tmp\\VemloSetup0", "C:\\VemloDemo"}) vt::RemoveTree(d);
        vt::RemoveTree("C:\\Program Files\\Common Files\\Vemlo");
        run_ = vt::FreshDir("setuprun");
        ClearRegistry();
        SetEnvironmentVariableA("VEMLO_SAMPLE_COMPANION_MS", "300");
        SetEnvironmentVariableA("VEMLO_SAMPLE_STEP_MS", "100");
    }
    void TearDown() override { ClearRegistry(); }

    static void ClearRegistry()
    {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kVemloKey);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kUninstallKey);
    }

    // Protects the "installed client" with the password "secret".
    static void Protect()
    {
        HKEY key;
        ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kVemloKey, &key), ERROR_SUCCESS);
        DWORD one = 1;
        RegSetValueExA(key, "Uninstall", 0, REG_DWORD, (const BYTE*)&one, 4);
        RegSetValueExA(key, "UninstallPwd", 0, REG_SZ, (const BYTE*)kStoredSecret, sizeof kStoredSecret);
        RegCloseKey(key);
        ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kUninstallKey, &key), ERROR_SUCCESS);
        RegSetValueExA(key, "DisplayVersion", 0, REG_SZ, (const BYTE*)"5.2.408", 8);
        RegCloseKey(key);
    }

    // Packs the named files of the build's bin folder and appends the package to the stub.
    std::string MakeSetup(const std::vector<std::string>& files, const std::string& name = "Setup.exe")
    {
        std::string pkg = "payload.pkg";
        DeleteFileA((run_ + "\\" + pkg).c_str());
        bool first = true;
        for (auto& f : files) {
            DWORD err = 0;
            EXPECT_EQ(utl_FilePack(vt::BinDir().c_str(), f.c_str(), run_.c_str(), pkg.c_str(), &err, first ? 0 : 1), 1)
                << f << " error " << err;
            first = false;
        }
        std::string package = files.empty() ? "" : vt::ReadAll(run_ + "\\" + pkg);
        return Assemble(package, name);
    }

    std::string Assemble(const std::string& package, const std::string& name = "Setup.exe")
    {
        std::string stub = vt::ReadAll(vt::BinDir() + "\\Setup.exe");
        EXPECT_LE(stub.size(), 307200u);
        stub.resize(307200, '\0');
        std::string path = run_ + "\\" + name;
        EXPECT_TRUE(vt::WriteAll(path, stub + package));
        return path;
    }

    static int Run(const std::string& setup, DWORD timeoutMs = 90000)
    {
        HANDLE p = vt::StartProgram(setup, {});
        if (!p) return -2;
        int code = vt::WaitExit(p, timeoutMs);
        CloseHandle(p);
        return code;
    }

    std::string run_;
};

TEST_F(SetupRun, WholeRunUnpacksRunsCompanionThenInstaller)
{
    std::string setup = MakeSetup(kPayload);
    vt::Watcher watcher;
    EXPECT_EQ(Run(setup), 0);
    for (auto& w : watcher.Seen()) ADD_FAILURE() << "unexpected window: " << w.caption << " / " << w.text;

    auto log = SetupLog();
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(log[0].rfind("The C free space is ", 0) == 0 && log[0].back() == '.' && log[0][log[0].size() - 2] == 'M')
        << log[0];
    EXPECT_TRUE(HasPrefix(log, "vs-stp started at "));
    EXPECT_TRUE(HasPrefix(log, "vs-stp ended at "));
    EXPECT_EQ(Last(log), "Exit main");
    EXPECT_FALSE(Has(log, "Begin UnpackAndSetup"));  // no password asked on this road

    for (auto& f : kPayload) EXPECT_EQ(vt::ReadAll(kWork + "\\" + f), vt::ReadAll(vt::BinDir() + "\\" + f)) << f;
    // The companion was started with its argument and had ended before the installer started.
    auto companion = vt::SplitLines(vt::ReadAll(kWork + "\\ulmApxSvr.note"));
    auto installer = vt::SplitLines(vt::ReadAll(kWork + "\\VemloSetup.note"));
    ASSERT_EQ(companion.size(), 2u);
    ASSERT_EQ(installer.size(), 2u);
    EXPECT_LE(companion[1].substr(6), installer[0].substr(8)) << companion[1] << " / " << installer[0];
    EXPECT_TRUE(vt::Exists("C:\\VemloDemo\\readme.txt"));
}

TEST_F(SetupRun, SecondSetupWhileFirstRunsShowsPreviousInstance)
{
    SetEnvironmentVariableA("VEMLO_SAMPLE_STEP_MS", "1500");
    std::string setup = MakeSetup(kPayload);
    std::string second = Assemble("", "Setup2.exe");
    HANDLE first = vt::StartProgram(setup, {});
    ASSERT_TRUE(first);
    for (int i = 0; i < 400 && !vt::Exists(kWork + "\\VemloSetup.note"); ++i) Sleep(50);
    ASSERT_TRUE(vt::Exists(kWork + "\\VemloSetup.note"));
    // While the setup runs its programs, its work folder cannot be moved away and replaced.
    EXPECT_FALSE(MoveFileA(kWork.c_str(), (kWork + "_moved").c_str()));

    {
        vt::Watcher watcher("box-previous-instance");
        EXPECT_EQ(Run(second), 0);
        ASSERT_EQ(watcher.Seen().size(), 1u);
        EXPECT_EQ(watcher.Seen()[0].caption, SetupCaption(Chinese()));
        EXPECT_EQ(watcher.Seen()[0].text, SetupMessageText(kMsgPreviousInstance, Chinese()));
    }
    EXPECT_EQ(vt::WaitExit(first, 90000), 0);
    CloseHandle(first);
    auto log = SetupLog();
    EXPECT_EQ(Last(log), "Exit main");
    EXPECT_TRUE(HasPrefix(log, "vs-stp ended at "));
    EXPECT_FALSE(HasPrefix(log, "install failed"));
}

VEMLO_CHILD(hold)
{
    Sleep(argc > 0 ? (DWORD)atoi(argv[0]) : 30000);
    return 0;
}

TEST_F(SetupRun, RunningUpdaterBlocksInEitherNameForm)
{
    std::string setup = MakeSetup(kPayload);
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    for (std::string image : {"rEFRESHcUScFG.exe", "RefreshCusCfg.e"}) {
        vt::RemoveTree("c:\\VemloLog");
        std::string copy = run_ + "\\" + image;
        ASSERT_TRUE(CopyFileA(self, copy.c_str(), FALSE));
        HANDLE updater = vt::StartProgram(copy, {"--vemlo-child", "hold", "30000"});
        ASSERT_TRUE(updater) << image;
        Sleep(300);
        {
            vt::Watcher watcher(image[0] == 'r' ? "box-updater-busy" : "");
            EXPECT_EQ(Run(setup), 0);
            ASSERT_EQ(watcher.Seen().size(), 1u) << image;
            EXPECT_EQ(watcher.Seen()[0].caption, SetupCaption(Chinese()));
            EXPECT_EQ(watcher.Seen()[0].text, SetupMessageText(kMsgUpdaterBusy, Chinese()));
        }
        TerminateProcess(updater, 0);
        WaitForSingleObject(updater, 5000);
        CloseHandle(updater);
        auto log = SetupLog();
        ASSERT_EQ(log.size(), 1u) << image;  // the free-space line only
        EXPECT_EQ(log[0].rfind("The C free space is ", 0), 0u);
        EXPECT_FALSE(vt::Exists(kWork + "\\ulmApxSvr.exe"));
    }
}

TEST_F(SetupRun, PackageBoundaryAndMissingPrograms)
{
    EXPECT_EQ(Run(Assemble("")), 0);  // exactly 307200 bytes: nothing appended
    EXPECT_TRUE(Has(SetupLog(), "install failed with Err 352."));
    EXPECT_EQ(Last(SetupLog()), "Exit main");

    vt::RemoveTree("c:\\VemloLog");
    EXPECT_EQ(Run(Assemble("x")), 0);  // 307201 bytes: the reader sees a one-byte package
    EXPECT_TRUE(Has(SetupLog(), "install failed with Err 159.")) << Last(SetupLog());

    vt::RemoveTree("c:\\VemloLog");
    EXPECT_EQ(Run(MakeSetup({"VemloSetup.exe", "readme.txt"})), 0);
    EXPECT_TRUE(Has(SetupLog(), "install failed with Err 355."));
    EXPECT_TRUE(vt::Exists(kWork + "\\VemloSetup.exe"));  // what was unpacked stays
    EXPECT_TRUE(vt::Exists(kWork + "\\readme.txt"));

    vt::RemoveTree("c:\\VemloLog");
    EXPECT_EQ(Run(MakeSetup({"ulmApxSvr.exe", "readme.txt"})), 0);
    auto log = SetupLog();
    EXPECT_TRUE(Has(log, "install failed with Err 356."));
    EXPECT_FALSE(vt::Exists(kWork + "\\VemloSetup.exe"));  // the work folder was emptied first
    EXPECT_EQ(vt::SplitLines(vt::ReadAll(kWork + "\\ulmApxSvr.note")).size(), 2u);  // the companion ran
}

// Answers the password dialog: types each entry in turn (waiting for the retry state between
// them), then does what last says: "ok" (nothing more), "cancel", "esc", "close".
struct DialogScript {
    std::vector<std::string> entries;
    std::string last = "ok";
    size_t next = 0;
    std::vector<std::string> retryTexts;
    std::string caption, prompt;
    LRESULT typedLength = -1;
    bool typeLong = false;

    bool operator()(HWND w)
    {
        std::string cap = vt::WindowText(w);
        if (cap != PwdDialogText(kPwdTxtCaption, Chinese())) {
            vt::Screenshot(w, "box-wrong-password");
            vt::Watcher::PressOk(w);  // a message box
            return true;
        }
        HWND edit = GetDlgItem(w, 1001);
        if (next == 0 && caption.empty()) {
            vt::Screenshot(w, "dialog-password");
            caption = cap;
            HWND label = GetDlgItem(w, -1);  // the prompt's id -1 reads back as 0xFFFF on some systems
            prompt = vt::WindowText(label ? label : GetDlgItem(w, 0xFFFF));
            if (typeLong) {
                for (int i = 0; i < 40; ++i) SendMessageA(edit, WM_CHAR, 'a' + i % 26, 0);
                typedLength = SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0);
                SendMessageA(edit, WM_SETTEXT, 0, (LPARAM)"");
            }
        }
        if (next > 0 && next <= entries.size()) {
            // Wait until the wrong entry was taken: the retry label shows, the edit is empty.
            if (!IsWindowVisible(GetDlgItem(w, 1002)) || SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0) != 0) return false;
            if (retryTexts.size() < next) {
                retryTexts.push_back(vt::WindowText(GetDlgItem(w, 1002)));
                if (next == 1) vt::Screenshot(w, "dialog-retry");
            }
        }
        if (next < entries.size()) {
            SendMessageA(edit, WM_SETTEXT, 0, (LPARAM)entries[next].c_str());
            ++next;
            PostMessageA(GetDlgItem(w, IDOK), BM_CLICK, 0, 0);
            return false;
        }
        if (last == "cancel") PostMessageA(GetDlgItem(w, IDCANCEL), BM_CLICK, 0, 0);
        else if (last == "esc") PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0);
        else if (last == "close") PostMessageA(w, WM_CLOSE, 0, 0);
        return true;
    }
};

TEST_F(SetupRun, PasswordGateRightFirstTimeOrAfterTwoWrong)
{
    Protect();
    std::string setup = MakeSetup(kPayload);
    for (auto entries : {std::vector<std::string>{"secret"}, std::vector<std::string>{"nope", "SECRET", "secret"}}) {
        vt::RemoveTree("c:\\VemloLog");
        vt::RemoveTree(kWork);
        DialogScript script;
        script.entries = entries;
        auto* s = &script;
        {
            vt::Watcher watcher([s](HWND w) { return (*s)(w); });
            EXPECT_EQ(Run(setup), 0);
            EXPECT_TRUE(watcher.Seen().empty());  // no message box (the dialog is never done with)
        }
        EXPECT_EQ(script.caption, PwdDialogText(kPwdTxtCaption, Chinese()));
        EXPECT_EQ(script.prompt, PwdDialogText(kPwdTxtPrompt, Chinese()));
        EXPECT_EQ(script.retryTexts.size(), entries.size() - 1);
        for (auto& t : script.retryTexts) EXPECT_EQ(t, PwdDialogText(kPwdTxtRetry, Chinese()));
        auto log = SetupLog();
        EXPECT_TRUE(Has(log, "g_bExit = TRUE;"));
        EXPECT_TRUE(Has(log, "Begin UnpackAndSetup"));
        EXPECT_TRUE(HasPrefix(log, "vs-stp ended at "));
        EXPECT_EQ(Last(log), "Exit main");
        EXPECT_TRUE(vt::Exists(kWork + "\\VemloSetup.exe"));
    }
}

TEST_F(SetupRun, PasswordGateThreeWrongShowsFinalBoxAndUnpacksNothing)
{
    Protect();
    std::string setup = MakeSetup(kPayload);
    DialogScript script;
    script.entries = {"one", "two", "three"};
    script.last = "none";
    script.typeLong = true;
    auto* s = &script;
    std::vector<vt::SeenWindow> seen;
    {
        vt::Watcher watcher([s](HWND w) { return (*s)(w); });
        EXPECT_EQ(Run(setup), 0);
        seen = watcher.Seen();
    }
    EXPECT_EQ(script.typedLength, 32);  // typing stops at 32 characters
    ASSERT_EQ(seen.size(), 1u);  // the final box; the dialog itself is never done with
    EXPECT_EQ(seen[0].caption, PwdDialogText(kPwdTxtFinalCaption, Chinese()));
    EXPECT_EQ(seen[0].text, PwdDialogText(kPwdTxtFinalText, Chinese()));
    EXPECT_EQ(script.retryTexts.size(), 2u);
    auto log = SetupLog();
    EXPECT_EQ(Last(log), "Exit main");
    EXPECT_FALSE(Has(log, "Begin UnpackAndSetup"));
    EXPECT_FALSE(Has(log, "g_bExit = TRUE;"));
    EXPECT_FALSE(vt::Exists(kWork));
}

TEST_F(SetupRun, PasswordGateCancelEscapeAndCloseEndTheRun)
{
    Protect();
    std::string setup = MakeSetup(kPayload);
    for (std::string how : {"cancel", "esc", "close"}) {
        vt::RemoveTree("c:\\VemloLog");
        DialogScript script;
        script.last = how;
        auto* s = &script;
        {
            vt::Watcher watcher([s](HWND w) { return (*s)(w); });
            EXPECT_EQ(Run(setup), 0) << how;
        }
        auto log = SetupLog();
        ASSERT_FALSE(log.empty()) << how;
        EXPECT_EQ(Last(log), "Exit main") << how;
        EXPECT_FALSE(Has(log, "Begin UnpackAndSetup")) << how;
        EXPECT_FALSE(vt::Exists(kWork)) << how;
    }
}

TEST(SetupStub, FitsItsImage)
{
    std::string stub = vt::ReadAll(vt::BinDir() + "\\Setup.exe");
    ASSERT_FALSE(stub.empty());
    EXPECT_LE(stub.size(), 307200u);
    // The 32-bit build is the product, and it is kept far below its image: 100 KiB at most.
    if (sizeof(void*) == 4) {
        EXPECT_LE(stub.size(), 102400u);
    }
}

VEMLO_CHILD(hold_file)
{
    // argv: a file to hold open without delete sharing, a marker written once it is held.
    HANDLE f = CreateFileA(argv[0], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE || argc < 2) return 1;
    vt::WriteAll(argv[1], "held");
    Sleep(60000);
    CloseHandle(f);
    return 0;
}

// What was planted in the work folder (files, a program of the payload's name, a DAM folder with
// a subfolder) is gone before anything is unpacked; a planted file that another process holds
// open cannot go, and then the run stops with 351 before anything is started.
TEST_F(SetupRun, PlantedWorkFolderIsEmptiedOrTheRunStops)
{
    std::string setup = MakeSetup(kPayload);
    vt::MakeDirs(kWork + "\\DAM\\sub");
    vt::WriteAll(kWork + "\\DAM\\sub\\x.dll", "planted");
    vt::WriteAll(kWork + "\\DAM\\y.dll", "planted");
    vt::WriteAll(kWork + "\\ulmApxSvr.exe", "planted");
    vt::WriteAll(kWork + "\\version.dll", "planted");
    std::string marker = run_ + "\\held";
    HANDLE holder = vt::StartChild("hold_file", {kWork + "\\version.dll", marker});
    ASSERT_TRUE(holder);
    for (int i = 0; i < 400 && !vt::Exists(marker); ++i) Sleep(50);
    EXPECT_TRUE(vt::Exists(marker));
    EXPECT_EQ(Run(setup), 0);
    TerminateProcess(holder, 0);
    WaitForSingleObject(holder, 10000);
    CloseHandle(holder);
    auto log = SetupLog();
    EXPECT_TRUE(Has(log, "install failed with Err 351.")) << Last(log);
    EXPECT_EQ(Last(log), "Exit main");
    EXPECT_FALSE(HasPrefix(log, "vs-stp started at "));
    EXPECT_NE(vt::ReadAll(kWork + "\\ulmApxSvr.exe"), vt::ReadAll(vt::BinDir() + "\\ulmApxSvr.exe"));  // not unpacked
    EXPECT_FALSE(vt::Exists(kWork + "\\ulmApxSvr.note"));  // nothing was started
    EXPECT_FALSE(vt::Exists("C:\\VemloDemo"));

    vt::RemoveTree("c:\\VemloLog");
    EXPECT_EQ(Run(setup), 0);
    log = SetupLog();
    EXPECT_FALSE(HasPrefix(log, "install failed")) << Last(log);
    EXPECT_TRUE(HasPrefix(log, "vs-stp ended at "));
    // The payload and the two programs' notes, nothing planted.
    EXPECT_EQ(vt::List(kWork), (std::vector<std::string>{"VemloSetup.exe", "VemloSetup.note", "client.ini", "readme.txt",
                                                         "ulmApxSvr.exe", "ulmApxSvr.note"}));
    EXPECT_EQ(vt::ReadAll(kWork + "\\ulmApxSvr.exe"), vt::ReadAll(vt::BinDir() + "\\ulmApxSvr.exe"));
}

}  // namespace
