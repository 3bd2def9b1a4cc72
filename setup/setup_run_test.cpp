// The real Setup.exe end to end: built from the stub and a package of the sample programs, run
// as its own process under Wine, with a watcher that reads and answers its windows.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <aclapi.h>
#include <sddl.h>

#include "base/text.h"
#include "custom/custom.h"
#include "guard/dialog_texts_testutil.h"
#include "guard/guard.h"
#include "package/format_testutil.h"
#include "package/package.h"
#include "setup/setup.h"
#include "setup/texts_testutil.h"
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

bool Chinese() { return vt::ChineseRun(); }

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

// The lines that end every run: the exit code, then "Exit main".
void ExpectEnd(const std::vector<std::string>& log, DWORD code)
{
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "Setup exit code " + std::to_string(code) + ".");
    EXPECT_EQ(log.back(), "Exit main");
}

// The instance event's name made with the security of sddl (its owner among it); NULL on failure.
HANDLE EventOwnedBy(const std::string& sddl, bool mutex = false)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &sa.lpSecurityDescriptor,
                                                              NULL))
        return NULL;
    HANDLE h = mutex ? CreateMutexA(&sa, FALSE, "Global\\evnt_Vemlo_stpDamon")
                     : CreateEventA(&sa, FALSE, FALSE, "Global\\evnt_Vemlo_stpDamon");
    LocalFree(sa.lpSecurityDescriptor);
    return h;
}

// This process's user, as SDDL text ("S-1-5-21-...").
std::string OwnUserSid()
{
    HANDLE token = NULL;
    BYTE buffer[256];
    DWORD size = 0;
    char* text = NULL;
    std::string sid;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
        GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
        sid = text;
        LocalFree(text);
    }
    if (token) CloseHandle(token);
    return sid;
}

// Starts program with a filtered token (the Administrators group kept for deny only), as an
// administrator's unelevated programs and a standard user's run. The process handle, or NULL
// with *why set.
HANDLE StartFiltered(const std::string& program, const std::string& args, std::string* why)
{
    HANDLE own = NULL, filtered = NULL;
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    SID_AND_ATTRIBUTES denyOnly = {admins, 0};
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own) ||
        !CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, admins, &size) ||
        !CreateRestrictedToken(own, 0, 1, &denyOnly, 0, NULL, 0, NULL, &filtered)) {
        if (own) CloseHandle(own);
        *why = "no restricted tokens here";
        return NULL;
    }
    std::string commandLine = "\"" + program + "\" " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessAsUserA(filtered, program.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL,
                                        &si, &pi);
    *why = "CreateProcessAsUserA failed with " + std::to_string(GetLastError());
    CloseHandle(filtered);
    CloseHandle(own);
    if (!started) return NULL;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

BOOL CALLBACK CollectVisible(HWND w, LPARAM p)
{
    if (IsWindowVisible(w)) reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
    return TRUE;
}

// Notes every visible top-level window, of any class and process, that was not up when it
// started looking: "class / caption".
class WindowSpotter {
public:
    WindowSpotter()
    {
        EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&known_));
        thread_ = std::thread([this] {
            while (!stop_) {
                std::vector<HWND> now;
                EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&now));
                for (HWND w : now) {
                    if (std::find(known_.begin(), known_.end(), w) != known_.end()) continue;
                    known_.push_back(w);
                    char cls[64] = "";
                    GetClassNameA(w, cls, sizeof cls);
                    seen_.push_back(std::string(cls) + " / " + vt::WindowText(w));
                }
                Sleep(20);
            }
        });
    }
    // Stops looking and returns what was seen.
    std::vector<std::string> Seen()
    {
        if (!stop_.exchange(true)) thread_.join();
        return seen_;
    }
    ~WindowSpotter() { Seen(); }

private:
    std::atomic<bool> stop_{false};
    std::vector<HWND> known_;
    std::vector<std::string> seen_;
    std::thread thread_;
};

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
        SetEnvironmentVariableA("VEMLO_SAMPLE_EXIT_CODE", NULL);
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

    // Packs the named files of the build's bin folder and makes a setup of them, as vpack does.
    std::string MakeSetup(const std::vector<std::string>& files, const std::string& name = "Setup.exe")
    {
        return Assemble(Package(files), name);
    }

    // The package of the named files of the build's bin folder (or of files given by their path).
    std::string Package(const std::vector<std::string>& files)
    {
        std::string pkg = "payload.pkg";
        DeleteFileA((run_ + "\\" + pkg).c_str());
        bool first = true;
        for (auto& f : files) {
            DWORD err = 0;
            size_t slash = f.find_last_of('\\');
            std::string dir = slash == std::string::npos ? vt::BinDir() : f.substr(0, slash);
            std::string file = slash == std::string::npos ? f : f.substr(slash + 1);
            EXPECT_EQ(utl_FilePack(dir.c_str(), file.c_str(), run_.c_str(), pkg.c_str(), &err, first ? 0 : 1), 1)
                << f << " error " << err;
            first = false;
        }
        return files.empty() ? "" : vt::ReadAll(run_ + "\\" + pkg);
    }

    // A setup as vpack makes it: the package closed with its digest, the stub's slot filled.
    std::string Assemble(const std::string& package, const std::string& name = "Setup.exe")
    {
        return Bound(pt::Closed(package), package, name);
    }

    // The stub as built (its slot empty), padded, followed by package: what another tool would make.
    std::string Unbound(const std::string& package, const std::string& name)
    {
        std::string stub = vt::ReadAll(vt::BinDir() + "\\Setup.exe");
        EXPECT_LE(stub.size(), 307200u);
        stub.resize(307200, '\0');
        std::string path = run_ + "\\" + name;
        EXPECT_TRUE(vt::WriteAll(path, stub + package));
        return path;
    }

    // The stub with its slot filled, as vpack fills it, with the BLAKE3 of boundTo (the package
    // bytes before any end record), followed by package. The slot is found by its bytes as built.
    std::string Bound(const std::string& package, const std::string& boundTo, const std::string& name)
    {
        std::string stub = vt::ReadAll(vt::BinDir() + "\\Setup.exe");
        const std::string empty = std::string("VemloSlt\x01\x02\x00\x20", 12) + std::string(36, '\0');
        size_t at = stub.find(empty);
        EXPECT_NE(at, std::string::npos) << "the stub carries no empty slot";
        EXPECT_EQ(stub.find(empty, at + 1), std::string::npos) << "the stub carries two";
        if (at != std::string::npos) {
            stub[at + 10] = 1;
            stub.replace(at + 12, 32, pt::Blake3(boundTo));
        }
        stub.resize(307200, '\0');
        std::string path = run_ + "\\" + name;
        EXPECT_TRUE(vt::WriteAll(path, stub + package));
        return path;
    }

    // Nothing of a refused package ran or was installed, and nothing of it stays.
    static void ExpectNothingRan(const std::string& what)
    {
        EXPECT_FALSE(vt::Exists(kWork + "\\ulmApxSvr.note")) << what;
        EXPECT_FALSE(vt::Exists(kWork + "\\VemloSetup.note")) << what;
        EXPECT_FALSE(vt::Exists("C:\\VemloDemo")) << what;
        EXPECT_TRUE(vt::List(kWork).empty()) << what;
        EXPECT_FALSE(HasPrefix(SetupLog(), "vs-stp")) << what;
    }

    static int Run(const std::string& setup, const std::vector<std::string>& args = {}, DWORD timeoutMs = 90000)
    {
        HANDLE p = vt::StartProgram(setup, args);
        if (!p) return -2;
        int code = vt::WaitExit(p, timeoutMs);
        CloseHandle(p);
        return code;
    }

    std::string run_;
};

TEST_F(SetupRun, WholeRunUnpacksRunsCompanionThenInstaller)
{
    // From a folder that makes Setup's own path 259 characters, the longest Windows starts a
    // program from: the whole path still fits its buffer.
    std::string folder = std::string(259 - run_.size() - 2 - 9, 'd');
    vt::MakeDirs(run_ + "\\" + folder);
    const std::string package = Package(kPayload);
    std::string setup = Assemble(package, folder + "\\Setup.exe");
    ASSERT_EQ(setup.size(), 259u);
    vt::Watcher watcher;
    WindowSpotter spotter;
    EXPECT_EQ(Run(setup), 0);
    for (auto& w : watcher.Seen()) ADD_FAILURE() << "unexpected window: " << w.caption << " / " << w.text;
    // The installer shows its window (what the unattended runs must not do).
    auto windows = spotter.Seen();
    EXPECT_NE(std::find(windows.begin(), windows.end(), "VemloSampleInstaller / Vemlo client setup"), windows.end());
    // A small payload unpacks at once: no progress window.
    EXPECT_EQ(std::find(windows.begin(), windows.end(), "VemloSetupProgress / " + std::string(gt::ExpectedSetupCaption(Chinese()))),
              windows.end());

    auto log = SetupLog();
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(log[0].rfind("The C free space is ", 0) == 0 && log[0].back() == '.' && log[0][log[0].size() - 2] == 'M')
        << log[0];
    EXPECT_TRUE(HasPrefix(log, "vs-stp started at "));
    EXPECT_TRUE(HasPrefix(log, "vs-stp ended at "));
    ExpectEnd(log, 0);
    EXPECT_TRUE(Has(pt::LogMessages("UtlFile"),
                    "utl_FileUnpack: payload digest BLAKE3 " + pt::HexOf(pt::Blake3(package)) + " verified."));
    EXPECT_FALSE(Has(log, "Begin UnpackAndSetup"));  // no password asked on this road
    EXPECT_FALSE(HasPrefix(log, "start of "));

    for (auto& f : kPayload) EXPECT_EQ(vt::ReadAll(kWork + "\\" + f), vt::ReadAll(vt::BinDir() + "\\" + f)) << f;
    // The companion was started with its argument and had ended before the installer started.
    auto companion = vt::SplitLines(vt::ReadAll(kWork + "\\ulmApxSvr.note"));
    auto installer = vt::SplitLines(vt::ReadAll(kWork + "\\VemloSetup.note"));
    ASSERT_EQ(companion.size(), 2u);
    ASSERT_EQ(installer.size(), 2u);
    EXPECT_LE(companion[1].substr(6), installer[0].substr(8)) << companion[1] << " / " << installer[0];
    EXPECT_TRUE(vt::Exists("C:\\VemloDemo\\readme.txt"));
    // Both ran in the work folder, not in Setup's; the installer got no arguments.
    EXPECT_EQ(vt::SplitLines(vt::ReadAll(kWork + "\\ulmApxSvr.run")),
              (std::vector<std::string>{"folder " + kWork, "args -setUpdInfo"}));
    EXPECT_EQ(vt::SplitLines(vt::ReadAll(kWork + "\\VemloSetup.run")),
              (std::vector<std::string>{"folder " + kWork, "args "}));
}

TEST_F(SetupRun, SecondSetupWhileFirstRunsShowsPreviousInstance)
{
    SetEnvironmentVariableA("VEMLO_SAMPLE_STEP_MS", "1500");
    std::string setup = MakeSetup(kPayload);
    std::string second = Unbound("", "Setup2.exe");
    HANDLE first = vt::StartProgram(setup, {});
    ASSERT_TRUE(first);
    for (int i = 0; i < 400 && !vt::Exists(kWork + "\\VemloSetup.note"); ++i) Sleep(50);
    ASSERT_TRUE(vt::Exists(kWork + "\\VemloSetup.note"));
    // While the setup runs its programs, its work folder cannot be moved away and replaced.
    EXPECT_FALSE(MoveFileA(kWork.c_str(), (kWork + "_moved").c_str()));

    {
        vt::Watcher watcher("box-previous-instance");
        EXPECT_EQ(Run(second), 1618);
        ASSERT_EQ(watcher.Seen().size(), 1u);
        EXPECT_EQ(watcher.Seen()[0].caption, gt::ExpectedSetupCaption(Chinese()));
        EXPECT_EQ(watcher.Seen()[0].text, gt::ExpectedSetupMessage(kMsgPreviousInstance, Chinese()));
    }
    EXPECT_EQ(vt::WaitExit(first, 90000), 0);
    CloseHandle(first);
    auto log = SetupLog();
    ExpectEnd(log, 0);
    EXPECT_TRUE(Has(log, "Setup stopped: another setup is running."));  // the second one's line
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
            EXPECT_EQ(Run(setup), 1618);
            ASSERT_EQ(watcher.Seen().size(), 1u) << image;
            EXPECT_EQ(watcher.Seen()[0].caption, gt::ExpectedSetupCaption(Chinese()));
            EXPECT_EQ(watcher.Seen()[0].text, gt::ExpectedSetupMessage(kMsgUpdaterBusy, Chinese()));
        }
        TerminateProcess(updater, 0);
        WaitForSingleObject(updater, 5000);
        CloseHandle(updater);
        auto log = SetupLog();
        ASSERT_EQ(log.size(), 4u) << image;
        EXPECT_EQ(log[0].rfind("The C free space is ", 0), 0u);
        EXPECT_EQ(log[1], "Setup stopped: the customisation updater is running.");
        ExpectEnd(log, 1618);
        EXPECT_FALSE(vt::Exists(kWork + "\\ulmApxSvr.exe"));
    }
}

// What a standard user can make stops no setup: the instance event's name taken first (her own
// event, one that denies everybody, or another kind of object), or a program of the updater's name
// that she runs from a folder she can write. Each run installs. (Under Wine, which has no private
// namespaces and no second user, the user's objects are made by this process with her owner or
// none; instance_test decides the Windows roads from their facts.)
TEST_F(SetupRun, WhatAStandardUserMakesStopsNoSetup)
{
    std::string setup = MakeSetup(kPayload);
    const std::string user = OwnUserSid();
    ASSERT_FALSE(user.empty());
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    const std::string updater = run_ + "\\RefreshCusCfg.exe";  // her folder
    ASSERT_TRUE(CopyFileA(self, updater.c_str(), FALSE));
    std::string why;
    const struct {
        const char* what;
        std::function<HANDLE()> make;  // what it returns is closed (a process ended) after the run
    } rows[] = {
        {"her event", [&] { return EventOwnedBy("O:" + user + "D:(A;;GA;;;WD)"); }},
        {"her event that denies everybody", [&] { return EventOwnedBy("O:" + user + "D:P"); }},
        {"an event of nobody's", [] { return CreateEventA(NULL, FALSE, FALSE, "Global\\evnt_Vemlo_stpDamon"); }},
        {"her mutex of the name", [&] { return EventOwnedBy("O:" + user + "D:(A;;GA;;;WD)", true); }},
        {"her RefreshCusCfg.exe", [&] { return StartFiltered(updater, "--vemlo-child hold 30000", &why); }},
    };
    for (auto& row : rows) {
        vt::RemoveTree("c:\\VemloLog");
        vt::RemoveTree(kWork);
        vt::RemoveTree("C:\\VemloDemo");
        HANDLE held = row.make();
        ASSERT_TRUE(held) << row.what << " " << why;
        EXPECT_EQ(Run(setup, {"/S"}), 0) << row.what;
        if (WaitForSingleObject(held, 0) == WAIT_TIMEOUT && GetProcessId(held)) TerminateProcess(held, 0);
        CloseHandle(held);
        auto log = SetupLog();
        ExpectEnd(log, 0);
        EXPECT_FALSE(HasPrefix(log, "Setup stopped:")) << row.what << ": " << Last(log);
        EXPECT_TRUE(vt::Exists("C:\\VemloDemo\\readme.txt")) << row.what;
    }
}

// Programs of the payload's names started elsewhere by somebody else (a decoy installer, the
// installed client's companion that keeps running) hold nothing; an installer that relaunches
// itself is waited for until its second self ends. The library's day file, planted as a hard
// link to a victim file, takes no line and stops nothing.
TEST_F(SetupRun, WaitsOnlyForWhatItStarted)
{
    std::string setup = MakeSetup(kPayload);
    std::string elsewhere = vt::FreshDir("elsewhere");
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    struct Decoys {
        std::vector<HANDLE> running;
        ~Decoys()
        {
            for (HANDLE d : running) {
                TerminateProcess(d, 0);
                WaitForSingleObject(d, 5000);
                CloseHandle(d);
            }
        }
    } decoys;
    for (std::string name : {"VemloSetup.exe", "ulmApxSvr.exe"}) {
        ASSERT_TRUE(CopyFileA(self, (elsewhere + "\\" + name).c_str(), FALSE));
        HANDLE d = vt::StartProgram(elsewhere + "\\" + name, {"--vemlo-child", "hold", "40000"});
        ASSERT_TRUE(d) << name;
        decoys.running.push_back(d);
    }
    std::string victim = elsewhere + "\\victim.bat";
    vt::WriteAll(victim, "@echo victim\r\n");
    vt::MakeDirs("c:\\VemloLog");
    std::string planted = "c:\\VemloLog\\stp_UtlFile" + vt::TodayStamp() + ".log";
    DeleteFileA(planted.c_str());  // the packing above wrote its trace there
    ASSERT_TRUE(CreateHardLinkA(planted.c_str(), victim.c_str(), NULL)) << planted << " " << GetLastError();
    SetEnvironmentVariableA("VEMLO_SAMPLE_RELAUNCH", "1");
    SetEnvironmentVariableA("VEMLO_SAMPLE_STEP_MS", "700");  // the second installer works about 2 s

    DWORD started = GetTickCount();
    int code = Run(setup, {"/S"}, 30000);
    double seconds = (GetTickCount() - started) / 1000.0;
    SetEnvironmentVariableA("VEMLO_SAMPLE_RELAUNCH", NULL);
    printf("run with two decoys and a relaunching installer: %.1f s\n", seconds);
    EXPECT_EQ(code, 0);
    // The decoys hold for 40 s and the run may take 30: it ended while both still ran.
    for (HANDLE d : decoys.running) EXPECT_EQ(WaitForSingleObject(d, 0), (DWORD)WAIT_TIMEOUT);
    // The relaunched installer had ended when the run did, and it was the one that installed.
    EXPECT_EQ(vt::SplitLines(vt::ReadAll(kWork + "\\VemloSetup.run")),
              (std::vector<std::string>{"folder " + kWork, "args /S /relaunched"}));
    auto notes = vt::SplitLines(vt::ReadAll(kWork + "\\VemloSetup.note"));
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1].substr(0, 6), "ended ");
    EXPECT_TRUE(vt::Exists("C:\\VemloDemo\\ulmApxSvr.exe"));
    auto log = SetupLog();
    EXPECT_TRUE(Has(log, "vs-stp started at 0"));
    EXPECT_TRUE(HasPrefix(log, "vs-stp ended at ")) << Last(log);
    EXPECT_FALSE(Has(log, "vs-stp ended at 0.")) << "the relaunched installer was not waited for";
    ExpectEnd(log, 0);
    EXPECT_EQ(vt::ReadAll(victim), "@echo victim\r\n");
    // Planted for the day, the link would take every later UtlFile line of this prefix (the
    // library passes over it line by line: an unpack bench run after the suite ran four times slower).
    EXPECT_TRUE(DeleteFileA(planted.c_str())) << GetLastError();
}

// Started with a filtered token, as an administrator's unelevated programs run: not an
// administrator, 740, nothing unpacked.
TEST_F(SetupRun, FilteredTokenIsNoAdministrator)
{
    std::string setup = MakeSetup(kPayload);
    std::string why;
    HANDLE run = StartFiltered(setup, "/S", &why);
    if (!run && why == "no restricted tokens here") GTEST_SKIP() << why;
    ASSERT_TRUE(run) << why;
    EXPECT_EQ(vt::WaitExit(run, 60000), 740);
    CloseHandle(run);
    auto log = SetupLog();
    EXPECT_TRUE(Has(log, "Setup stopped: not an administrator.")) << Last(log);
    ExpectEnd(log, 740);
    EXPECT_FALSE(vt::Exists(kWork));
}

TEST_F(SetupRun, PackageBoundaryAndMissingPrograms)
{
    EXPECT_EQ(Run(Unbound("", "Setup.exe")), 352);  // exactly 307200 bytes: nothing appended
    EXPECT_TRUE(Has(SetupLog(), "install failed with Err 352."));
    ExpectEnd(SetupLog(), 352);

    vt::RemoveTree("c:\\VemloLog");
    EXPECT_EQ(Run(Bound("x", "x", "Setup.exe")), 159);  // 307201 bytes: the reader sees a one-byte package
    EXPECT_TRUE(Has(SetupLog(), "install failed with Err 159.")) << Last(SetupLog());

    vt::RemoveTree("c:\\VemloLog");
    EXPECT_EQ(Run(MakeSetup({"VemloSetup.exe", "readme.txt"})), 355);
    EXPECT_TRUE(Has(SetupLog(), "install failed with Err 355."));
    EXPECT_TRUE(vt::Exists(kWork + "\\VemloSetup.exe"));  // what was unpacked stays
    EXPECT_TRUE(vt::Exists(kWork + "\\readme.txt"));

    vt::RemoveTree("c:\\VemloLog");
    EXPECT_EQ(Run(MakeSetup({"ulmApxSvr.exe", "readme.txt"})), 356);
    auto log = SetupLog();
    EXPECT_TRUE(Has(log, "install failed with Err 356."));
    EXPECT_FALSE(vt::Exists(kWork + "\\VemloSetup.exe"));  // the work folder was emptied first
    EXPECT_EQ(vt::SplitLines(vt::ReadAll(kWork + "\\ulmApxSvr.note")).size(), 2u);  // the companion ran

    // A plain file where the work folder belongs: it cannot be made.
    vt::RemoveTree("c:\\VemloLog");
    vt::RemoveTree(kWork);
    ASSERT_TRUE(vt::WriteAll(kWork, "in the way"));
    EXPECT_EQ(Run(MakeSetup(kPayload)), 351);
    EXPECT_TRUE(Has(SetupLog(), "install failed with Err 351."));
    DeleteFileA(kWork.c_str());
}

// Unattended, every road ends without a box, a dialog or any other window, with its exit code;
// a whole run hands /S to the installer and returns its 3010.
TEST_F(SetupRun, UnattendedRunsShowNoWindowAndReturnEachOutcome)
{
    std::string setup = MakeSetup(kPayload);
    const struct {
        std::vector<std::string> args;
        std::function<HANDLE()> prepare;  // what it returns is closed after the run
        int code;
        std::string stopLine;
    } rows[] = {
        {{"/S"}, [] { Protect(); return HANDLE(NULL); }, 1625,
         "Setup stopped: the uninstall password is needed but cannot be asked."},
        // The instance event lives in the global namespace, seen from every session; an elevated
        // setup's (an older one's too) is owned by Administrators.
        {{"/quiet"}, [] { return EventOwnedBy("O:BAD:(A;;GA;;;WD)"); }, 1618, "Setup stopped: another setup is running."},
        // The dash forms, as Burn takes them.
        {{"-S"}, [] { Protect(); return HANDLE(NULL); }, 1625,
         "Setup stopped: the uninstall password is needed but cannot be asked."},
        {{"-QUIET"}, [] { return EventOwnedBy("O:SYD:(A;;GA;;;WD)"); }, 1618, "Setup stopped: another setup is running."},
        {{"/S"}, [] { SetEnvironmentVariableA("VEMLO_SAMPLE_EXIT_CODE", "3010"); return HANDLE(NULL); }, 3010, ""},
    };
    WindowSpotter spotter;
    for (auto& row : rows) {
        vt::RemoveTree("c:\\VemloLog");
        ClearRegistry();
        HANDLE held = row.prepare();
        DWORD started = GetTickCount();
        EXPECT_EQ(Run(setup, row.args), row.code);
        DWORD seconds = (GetTickCount() - started) / 1000;
        if (held) CloseHandle(held);
        auto log = SetupLog();
        ExpectEnd(log, row.code);
        if (!row.stopLine.empty()) {
            EXPECT_TRUE(Has(log, row.stopLine)) << row.code;
            EXPECT_FALSE(vt::Exists(kWork)) << row.code;  // nothing unpacked
            EXPECT_LT(seconds, 20u) << row.code;           // nothing waited for an answer
        }
    }
    // The last run installed silently: Setup's command line reached the installer as it was.
    EXPECT_EQ(vt::SplitLines(vt::ReadAll(kWork + "\\VemloSetup.run")),
              (std::vector<std::string>{"folder " + kWork, "args /S"}));
    EXPECT_TRUE(vt::Exists("C:\\VemloDemo\\readme.txt"));
    for (auto& w : spotter.Seen()) ADD_FAILURE() << "window in an unattended run: " << w;
}

// Help is asked for: attended it shows the switches and exit codes in a box (also while another
// setup runs), unattended nothing at all; either way it unpacks and starts nothing and ends in 0.
TEST_F(SetupRun, HelpShowsTheSwitchesAndInstallsNothing)
{
    std::string setup = MakeSetup(kPayload);
    const struct {
        std::vector<std::string> args;
        bool otherSetupRuns;
        bool box;
    } rows[] = {
        {{"/?"}, false, true},
        {{"-H"}, true, true},
        {{"/D=C:\\x", "/Help"}, false, true},
        {{"-help", "/S"}, false, false},
        {{"/quiet", "-?"}, true, false},
    };
    for (auto& row : rows) {
        std::string shown = row.args.back();
        vt::RemoveTree("c:\\VemloLog");
        HANDLE other = row.otherSetupRuns ? CreateEventA(NULL, FALSE, FALSE, "Global\\evnt_Vemlo_stpDamon") : NULL;
        std::vector<vt::SeenWindow> boxes;
        std::vector<std::string> windows;
        {
            WindowSpotter spotter;
            vt::Watcher watcher(row.box && shown == "/?" ? "box-help" : "");
            EXPECT_EQ(Run(setup, row.args, 30000), 0) << shown;
            boxes = watcher.Seen();
            windows = spotter.Seen();
        }
        if (other) CloseHandle(other);
        if (row.box) {
            ASSERT_EQ(boxes.size(), 1u) << shown;
            EXPECT_EQ(boxes[0].caption, gt::ExpectedSetupCaption(Chinese()));
            EXPECT_EQ(boxes[0].text, gt::ExpectedSetupHelp(Chinese()));
            for (auto word : {"/S, /quiet", "/?, /h, /help", "3010", "1618", "1625", "150-169", "351-356"})
                EXPECT_NE(boxes[0].text.find(word), std::string::npos) << word;
        } else {
            for (auto& w : windows) ADD_FAILURE() << "window in an unattended help run: " << w;
        }
        EXPECT_EQ(SetupLog(), (std::vector<std::string>{"Setup stopped: help was asked for, nothing was installed.",
                                                        "Setup exit code 0.", "Exit main"}))
            << shown;
        EXPECT_FALSE(vt::Exists(kWork)) << shown;
        EXPECT_FALSE(vt::Exists("C:\\VemloDemo")) << shown;
    }
}

// Watches for the progress window and the installer's window: whether each was up, the progress
// window's text, and whether both were ever up at once.
class ProgressSpotter {
public:
    ProgressSpotter()
        : thread_([this] {
              while (!stop_) {
                  HWND progress = FindWindowA("VemloSetupProgress", NULL);
                  HWND installer = FindWindowA("VemloSampleInstaller", NULL);
                  bool progressUp = progress && IsWindowVisible(progress);
                  bool installerUp = installer && IsWindowVisible(installer);
                  if (progressUp && !progressSeen) {
                      caption = vt::WindowText(progress);
                      wchar_t wide[256] = L"";
                      InternalGetWindowText(FindWindowExA(progress, NULL, "STATIC", NULL), wide, 256);
                      text = wide;
                      vt::Screenshot(progress, "window-progress");
                      progressSeen = true;
                  }
                  installerSeen = installerSeen || installerUp;
                  together = together || (progressUp && installerUp);
                  Sleep(5);
              }
          })
    {
    }
    ~ProgressSpotter() { Stop(); }
    void Stop()
    {
        if (!stop_.exchange(true)) thread_.join();
    }
    std::atomic<bool> progressSeen{false};  // set once caption and text are read
    bool installerSeen = false, together = false;
    std::string caption;
    std::wstring text;

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Starts the setup and holds its unpack: once the first record's file is in the work folder (a
// change notification wakes this thread, no wall-clock guess), the setup's main thread, which
// unpacks, is suspended until held() returns; the progress window's own thread runs on. Returns
// the exit code, or -2 when the setup did not start. *heldMidway: the last record was not yet
// unpacked when the hold began.
int RunHolding(const std::string& setup, const std::vector<std::string>& args, const std::string& first,
               const std::string& last, const std::function<void()>& held, bool* heldMidway)
{
    *heldMidway = false;
    std::string line = "\"" + setup + "\"";
    for (auto& a : args) line += " " + a;
    // The work folder is made anew by the setup: its parent is watched, with everything below
    // (made here when the prefix is new, as the setup would make it).
    CreateDirectoryA("C:\\tmp", NULL);
    HANDLE change = FindFirstChangeNotificationA("C:\\tmp", TRUE, FILE_NOTIFY_CHANGE_FILE_NAME);
    if (change == INVALID_HANDLE_VALUE) return -2;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        FindCloseChangeNotification(change);
        return -2;
    }
    HANDLE waits[2] = {change, pi.hProcess};
    while (!vt::Exists(kWork + "\\" + first) &&
           WaitForMultipleObjects(2, waits, FALSE, 90000) == WAIT_OBJECT_0)
        FindNextChangeNotification(change);
    FindCloseChangeNotification(change);
    if (SuspendThread(pi.hThread) != (DWORD)-1) {
        *heldMidway = !vt::Exists(kWork + "\\" + last);
        held();
        ResumeThread(pi.hThread);
    }
    int code = vt::WaitExit(pi.hProcess, 90000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

// An attended unpack that takes a while shows a progress window, gone before the installer's
// window appears; unattended the same unpack shows none. The unpack is held midway: attended
// until the window is up, unattended for four times the delay after which a window would come.
TEST_F(SetupRun, SlowAttendedUnpackShowsProgressUntilTheInstallerStarts)
{
    // The payload, then many small records, so that the hold begins long before the last one.
    std::string package = Package(kPayload);
    for (int i = 0; i < 1500; ++i) package += pt::Record("r" + std::to_string(i) + ".txt", "small");
    std::string setup = Assemble(package);
    const struct {
        std::vector<std::string> args;
        bool progress;
    } rows[] = {{{}, true}, {{"/S"}, false}};
    for (auto& row : rows) {
        vt::RemoveTree("c:\\VemloLog");
        vt::RemoveTree(kWork);
        ProgressSpotter spotter;
        bool midway = false;
        auto held = [&spotter, &row] {
            if (!row.progress) {
                Sleep(4 * kProgressDelayMs);  // the injected delay: a window would be up by now
                return;
            }
            for (int i = 0; i < 3000 && !spotter.progressSeen; ++i) Sleep(20);
        };
        EXPECT_EQ(RunHolding(setup, row.args, kPayload[0], "r1499.txt", held, &midway), 0);
        spotter.Stop();
        ASSERT_TRUE(midway) << "the unpack had ended before it could be held";
        EXPECT_EQ(spotter.progressSeen.load(), row.progress);
        EXPECT_EQ(spotter.installerSeen, row.progress);  // the installer's window: attended only
        EXPECT_FALSE(spotter.together);
        if (row.progress) {
            EXPECT_EQ(spotter.caption, gt::ExpectedSetupCaption(Chinese()));
            EXPECT_EQ(spotter.text, Chinese() ? L"\u6B63\u5728\u51C6\u5907\u5B89\u88C5\u2026"
                                              : L"Preparing the installation\u2026");
        }
        auto log = SetupLog();
        EXPECT_TRUE(HasPrefix(log, "vs-stp ended at "));
        ExpectEnd(log, 0);
        EXPECT_TRUE(vt::Exists(kWork + "\\r1499.txt"));
    }
    vt::RemoveTree(kWork);
}

// Opens path for writing, sharing reading and writing (as an editor or a scanner might), as soon
// as it appears, and keeps it open until destroyed.
class Grabber {
public:
    explicit Grabber(const std::string& path)
        : thread_([this, path] {
              while (!stop_ && file_ == INVALID_HANDLE_VALUE) {
                  file_ = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                      OPEN_EXISTING, 0, NULL);
                  Sleep(1);
              }
          })
    {
    }
    ~Grabber()
    {
        stop_ = true;
        thread_.join();
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    }
    bool Grabbed() const { return file_ != INVALID_HANDLE_VALUE; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<HANDLE> file_{INVALID_HANDLE_VALUE};
    std::thread thread_;
};

// A program that cannot start, or cannot be held because another process has it open for
// writing, ends with its number; only the companion's failed start lets the run go on.
TEST_F(SetupRun, LaunchFailuresAndHeldProgramsEndWithTheirNumbers)
{
    const std::string bad = run_ + "\\bad\\";
    vt::MakeDirs(bad);
    for (auto name : {"ulmApxSvr.exe", "VemloSetup.exe"})
        ASSERT_TRUE(vt::WriteAll(bad + name, "this is not a program\r\n"));
    // The companion, then many small records (a package is a 17-byte header and records): each
    // costs the unpacking a file made, which gives the grabber its time.
    std::string slow = Package({"ulmApxSvr.exe"});
    for (int i = 0; i < 400; ++i) slow += pt::Record("r" + std::to_string(i) + ".txt", "small");
    slow += Package({"VemloSetup.exe"}).substr(17);
    const struct {
        std::string package;
        std::string grabbed;  // held open for writing by this process as soon as it is unpacked
        int code;
        std::string startLine;  // Windows' 193: not a valid program, 32: sharing violation
        bool companionRan, installerRan;
    } rows[] = {
        {Package({"ulmApxSvr.exe", bad + "VemloSetup.exe"}), "", 354,
         "start of VemloSetup.exe failed with Err 354, system error 193: ", true, false},
        {Package({bad + "ulmApxSvr.exe", "VemloSetup.exe", "readme.txt"}), "", 0,
         "start of ulmApxSvr.exe failed with Err 353, system error 193: ", false, true},
        {slow, "ulmApxSvr.exe", 355, "start of ulmApxSvr.exe failed with Err 355, system error 32: ", false, false},
        {Package(kPayload), "VemloSetup.exe", 356, "start of VemloSetup.exe failed with Err 356, system error 32: ",
         true, false},
    };
    SetEnvironmentVariableA("VEMLO_SAMPLE_COMPANION_MS", "1000");
    for (auto& row : rows) {
        vt::RemoveTree("c:\\VemloLog");
        vt::RemoveTree(kWork);
        vt::RemoveTree("C:\\VemloDemo");
        std::string setup = Assemble(row.package);
        std::unique_ptr<Grabber> grabber;
        if (!row.grabbed.empty()) grabber.reset(new Grabber(kWork + "\\" + row.grabbed));
        DWORD started = GetTickCount();
        EXPECT_EQ(Run(setup), row.code) << row.startLine;
        EXPECT_LT((GetTickCount() - started) / 1000, 20u) << row.startLine;  // no 30-second wait
        EXPECT_EQ(grabber && grabber->Grabbed(), !row.grabbed.empty()) << row.startLine;
        grabber.reset();
        auto log = SetupLog();
        EXPECT_TRUE(HasPrefix(log, row.startLine)) << row.startLine;
        EXPECT_EQ(Has(log, "install failed with Err " + std::to_string(row.code) + "."), row.code != 0);
        ExpectEnd(log, row.code);
        EXPECT_EQ(vt::Exists(kWork + "\\ulmApxSvr.note"), row.companionRan) << row.startLine;
        EXPECT_EQ(vt::Exists(kWork + "\\VemloSetup.note"), row.installerRan) << row.startLine;
        EXPECT_EQ(vt::Exists("C:\\VemloDemo"), row.installerRan) << row.startLine;
    }
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
        if (cap != gt::ExpectedPwdText(kPwdTxtCaption, Chinese())) {
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
            EXPECT_EQ(Run(setup), 0);  // the installer's own code
            EXPECT_TRUE(watcher.Seen().empty());  // no message box (the dialog is never done with)
        }
        EXPECT_EQ(script.caption, gt::ExpectedPwdText(kPwdTxtCaption, Chinese()));
        EXPECT_EQ(script.prompt, gt::ExpectedPwdText(kPwdTxtPrompt, Chinese()));
        EXPECT_EQ(script.retryTexts.size(), entries.size() - 1);
        for (auto& t : script.retryTexts) EXPECT_EQ(t, gt::ExpectedPwdText(kPwdTxtRetry, Chinese()));
        auto log = SetupLog();
        EXPECT_TRUE(Has(log, "g_bExit = TRUE;"));
        EXPECT_TRUE(Has(log, "Begin UnpackAndSetup"));
        EXPECT_TRUE(HasPrefix(log, "vs-stp ended at "));
        ExpectEnd(log, 0);
        EXPECT_TRUE(vt::Exists(kWork + "\\VemloSetup.exe"));
    }
}

// While the password dialog waits, somebody renames Setup.exe and puts another setup in its
// place: the setup that runs still installs its own payload, read from the file it holds.
TEST_F(SetupRun, SetupReplacedWhileThePasswordWaitsInstallsItsOwnPayload)
{
    Protect();
    std::string setup = MakeSetup(kPayload);  // with client.ini
    std::string other = MakeSetup({"ulmApxSvr.exe", "VemloSetup.exe", "readme.txt"}, "Other.exe");
    DialogScript script;
    script.entries = {"secret"};
    bool tried = false, renamed = false;
    auto* s = &script;
    {
        vt::Watcher watcher([&, s](HWND w) {
            if (!tried) {
                tried = true;
                renamed = MoveFileA(setup.c_str(), (setup + ".old").c_str()) != 0;
                if (renamed) CopyFileA(other.c_str(), setup.c_str(), FALSE);
            }
            return (*s)(w);
        });
        EXPECT_EQ(Run(setup), 0);
    }
    EXPECT_TRUE(tried);
    EXPECT_FALSE(renamed);  // held without delete sharing since the start
    EXPECT_TRUE(vt::Exists(kWork + "\\client.ini"));
    EXPECT_TRUE(HasPrefix(SetupLog(), "vs-stp ended at "));
}

// Moves the certificate table that the image's headers name (the security directory) to at, up
// to the end of the file, as an attacker grows a signed image's table to hide a package in it.
void CoverWithCertificateTable(const std::string& path, uint32_t at)
{
    std::string b = vt::ReadAll(path);
    ASSERT_GT(b.size(), 0x40u);
    uint32_t nt = 0;
    memcpy(&nt, &b[0x3C], 4);
    uint16_t magic = 0;
    memcpy(&magic, &b[nt + 24], 2);
    // The data directories follow 96 bytes of a PE32 optional header, 112 of a PE32+ one; the
    // security directory is the fifth.
    size_t entry = nt + 24 + (magic == 0x20b ? 112 : 96) + 4 * 8;
    uint32_t size = (uint32_t)b.size() - at;
    memcpy(&b[entry], &at, 4);
    memcpy(&b[entry + 4], &size, 4);
    ASSERT_TRUE(vt::WriteAll(path, b));
}

// A setup whose slot vpack filled installs its own package and no other: the same stub carrying
// another sound package (closed with that package's own digest, as any vpack would close it), or
// its own bytes without the digest, ends with 167 and runs nothing. So does the stub as built,
// whose empty slot binds it to no package (signed, it would vouch for any), and a setup whose
// package begins inside the certificate table, where the signature covers nothing. Each says why
// in the detail log.
TEST_F(SetupRun, BoundSetupInstallsItsOwnPackageOnly)
{
    const std::string mine = Package(kPayload);
    const std::string other = Package({"ulmApxSvr.exe", "VemloSetup.exe", "readme.txt"});
    const std::string notItsOwn =
        "utl_FileUnpack: this setup carries the payload digest BLAKE3 " + pt::HexOf(pt::Blake3(mine)) +
        ": the package is not its own.";
    std::string inTable = Bound(pt::Closed(mine), mine, "InTable.exe");
    CoverWithCertificateTable(inTable, 307200 - 8);
    std::string tableBehind = Bound(pt::Closed(mine), mine, "TableBehind.exe");
    CoverWithCertificateTable(tableBehind, 307200 + (uint32_t)pt::Closed(mine).size());
    const struct {
        const char* what;
        std::string setup;
        int code;
        std::string traceLine;  // in the detail log, when refused
    } rows[] = {
        {"its own package", Bound(pt::Closed(mine), mine, "Own.exe"), 0, ""},
        {"its own package, signed as vpack leaves it (the table behind it)", tableBehind, 0, ""},
        {"another sound package", Bound(pt::Closed(other), mine, "Foreign.exe"), 167, notItsOwn},
        {"another package closed by an older writer", Bound(pt::ClosedXxh3(other), mine, "Old.exe"), 167, notItsOwn},
        {"its own package without the end record", Bound(mine, mine, "Open.exe"), 167, notItsOwn},
        {"the stub as built, a sound package", Unbound(pt::Closed(other), "Unbound.exe"), 167,
         "UnpackAndSetup: this setup carries no payload digest: it installs no package."},
        {"its own package inside the certificate table", inTable, 167,
         "UnpackAndSetup: the package at 307200 begins inside the certificate table (" +
             std::to_string(pt::Closed(mine).size() + 8) + " bytes at 307192): it is not part of the signed image."},
    };
    for (auto& row : rows) {
        vt::RemoveTree("c:\\VemloLog");
        vt::RemoveTree(kWork);
        vt::RemoveTree("C:\\VemloDemo");
        EXPECT_EQ(Run(row.setup), row.code) << row.what;  // the whole code, read by a Windows parent
        auto log = SetupLog();
        ExpectEnd(log, row.code);
        if (row.code == 167) {
            EXPECT_TRUE(Has(log, "install failed with Err 167.")) << row.what;
            EXPECT_TRUE(Has(pt::LogMessages("UtlFile"), row.traceLine)) << row.what << ": " << Last(pt::LogMessages("UtlFile"));
            ExpectNothingRan(row.what);
        } else {
            EXPECT_TRUE(HasPrefix(log, "vs-stp ended at ")) << row.what;
            EXPECT_TRUE(vt::Exists("C:\\VemloDemo\\readme.txt")) << row.what;
            EXPECT_TRUE(vt::Exists(kWork + "\\client.ini")) << row.what;
        }
    }
}

// Compressed setups: made by vpack.exe as a release is made (records compressed where that pays),
// they install the same files; a compressed record whose frame does not keep its word (bound, so
// the digest lets it through to the decoder) is 169: what was unpacked is deleted, nothing runs.
// Frames by hand: 28b52ffd, descriptor 0x80 (4-byte size), window 8 MiB, the size, one raw block.
TEST_F(SetupRun, CompressedSetupsInstallAndBrokenFramesRunNothing)
{
    std::vector<std::string> args = {"setup", vt::BinDir() + "\\Setup.exe", "-o", run_ + "\\Packed.exe"};
    for (auto& f : kPayload) args.push_back(vt::BinDir() + "\\" + f);
    std::string out, err;
    ASSERT_EQ(vt::RunTool(vt::BinDir() + "\\vpack.exe", args, &out, &err), 0) << err;
    std::string listing;
    ASSERT_EQ(vt::RunTool(vt::BinDir() + "\\vpack.exe", {"list", run_ + "\\Packed.exe"}, &listing, &err), 0) << err;
    EXPECT_NE(listing.find("\tzstd "), std::string::npos) << listing;  // some record is compressed
    EXPECT_NE(listing.find("compressed: "), std::string::npos) << listing;

    const std::string hello = std::string("\x28\xb5\x2f\xfd\x80\x68\x05\0\0\0\x29\0\0hello", 18);
    std::string more = hello, less = hello;
    more[6] = 6;  // declares 6, gives 5
    less[6] = 4;  // declares 4, gives 5
    auto withFrame = [&](const std::string& frame) {
        return Package({"ulmApxSvr.exe", "VemloSetup.exe"}) + pt::RecordRaw(0x80000000u | 10, (uint32_t)frame.size(), "readme.txt", frame);
    };
    const std::string good = withFrame(hello), lies = withFrame(more), short_ = withFrame(less),
                      cut = withFrame(hello.substr(0, 15));
    const struct {
        const char* what;
        std::string setup;
        int code;
    } rows[] = {
        {"a frame that declares more", Bound(pt::Closed(lies), lies, "More.exe"), 169},
        {"a frame that declares less", Bound(pt::Closed(short_), short_, "Less.exe"), 169},
        {"a frame cut short", Bound(pt::Closed(cut), cut, "Cut.exe"), 169},
        {"made by vpack", run_ + "\\Packed.exe", 0},
        {"a frame by hand", Bound(pt::Closed(good), good, "Hand.exe"), 0},
    };
    for (auto& row : rows) {
        vt::RemoveTree("c:\\VemloLog");
        vt::RemoveTree(kWork);
        vt::RemoveTree("C:\\VemloDemo");
        EXPECT_EQ(Run(row.setup), row.code) << row.what;
        auto log = SetupLog();
        ExpectEnd(log, row.code);
        if (row.code) {
            EXPECT_TRUE(Has(log, "install failed with Err 169.")) << row.what;
            ExpectNothingRan(row.what);
        } else {
            EXPECT_TRUE(HasPrefix(log, "vs-stp ended at ")) << row.what;
            EXPECT_TRUE(vt::Exists("C:\\VemloDemo\\readme.txt")) << row.what;
        }
    }
    EXPECT_EQ(vt::ReadAll(kWork + "\\readme.txt"), "hello");  // the last that installed: by hand
    for (auto& f : {"ulmApxSvr.exe", "VemloSetup.exe"})
        EXPECT_EQ(vt::ReadAll(kWork + "\\" + f), vt::ReadAll(vt::BinDir() + "\\" + f)) << f;
}

// Waits until the setup runs (its instance event exists), then takes the file away from under it:
// argv is the setup, the forged setup to put under its name, and a marker folder ("held" once the
// file is held, "swapped" once the forged one is in place). The file is held from before the
// setup starts, with delete access and sharing reading and deleting, as anybody who can write the
// folder may.
VEMLO_CHILD(swap_setup)
{
    if (argc < 3) return 2;
    const std::string setup = argv[0], forged = argv[1], marks = argv[2];
    HANDLE held = CreateFileA(setup.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
    if (held == INVALID_HANDLE_VALUE) return 3;
    vt::WriteAll(marks + "\\held", "held");
    HANDLE event = NULL;
    for (int i = 0; i < 1200 && !event; ++i) {
        event = OpenEventA(SYNCHRONIZE, FALSE, "Global\\evnt_Vemlo_stpDamon");
        if (!event) event = OpenEventA(SYNCHRONIZE, FALSE, "evnt_Vemlo_stpDamon");
        if (!event) Sleep(50);
    }
    if (!event) return 4;
    CloseHandle(event);
    bool swapped = MoveFileA(setup.c_str(), (setup + ".away").c_str()) && CopyFileA(forged.c_str(), setup.c_str(), TRUE);
    CloseHandle(held);
    vt::WriteAll(marks + "\\swapped", swapped ? "swapped" : "not swapped");
    return swapped ? 0 : 5;
}

// Finding 1's road: the file is held with delete access before the administrator starts the
// setup, and swapped for the same stub with a sound package of somebody else's (closed as an
// older vpack closed packages) while the password dialog waits. The forged payload never runs.
TEST_F(SetupRun, SetupSwappedUnderItsNameNeverRunsTheForgedPayload)
{
    Protect();
    const std::string mine = Package(kPayload);
    vt::WriteAll(run_ + "\\forged.txt", "forged");
    const std::string forgedPackage = Package({"ulmApxSvr.exe", "VemloSetup.exe", run_ + "\\forged.txt"});
    std::string setup = Bound(pt::Closed(mine), mine, "Setup.exe");
    std::string forged = Unbound(pt::ClosedXxh3(forgedPackage), "Forged.exe");
    const std::string marks = run_ + "\\marks";
    vt::MakeDirs(marks);
    HANDLE swapper = vt::StartChild("swap_setup", {setup, forged, marks});
    ASSERT_TRUE(swapper);
    for (int i = 0; i < 400 && !vt::Exists(marks + "\\held"); ++i) Sleep(25);
    ASSERT_TRUE(vt::Exists(marks + "\\held"));
    DialogScript script;
    script.entries = {"secret"};
    auto* s = &script;
    int code = -1;
    {
        // The password is given only once the swap is done.
        vt::Watcher watcher([&, s](HWND w) { return vt::Exists(marks + "\\swapped") && (*s)(w); });
        code = Run(setup);
    }
    EXPECT_EQ(vt::WaitExit(swapper, 30000), 0);
    CloseHandle(swapper);
    EXPECT_EQ(vt::ReadAll(marks + "\\swapped"), "swapped");
    // Without the file it held from the start, the setup has no package.
    EXPECT_EQ(code, 352);
    auto log = SetupLog();
    EXPECT_TRUE(Has(log, "install failed with Err 352.")) << Last(log);
    ExpectEnd(log, 352);
    EXPECT_FALSE(vt::Exists(kWork + "\\forged.txt"));
    EXPECT_FALSE(vt::Exists(kWork + "\\VemloSetup.note"));
    EXPECT_FALSE(vt::Exists("C:\\VemloDemo"));
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
        EXPECT_EQ(Run(setup), 1625);
        seen = watcher.Seen();
    }
    EXPECT_EQ(script.typedLength, 32);  // typing stops at 32 characters
    ASSERT_EQ(seen.size(), 1u);  // the final box; the dialog itself is never done with
    EXPECT_EQ(seen[0].caption, gt::ExpectedPwdText(kPwdTxtFinalCaption, Chinese()));
    EXPECT_EQ(seen[0].text, gt::ExpectedPwdText(kPwdTxtFinalText, Chinese()));
    EXPECT_EQ(script.retryTexts.size(), 2u);
    auto log = SetupLog();
    EXPECT_TRUE(Has(log, "Setup stopped: three wrong passwords."));
    ExpectEnd(log, 1625);
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
            EXPECT_EQ(Run(setup), 1602) << how;
        }
        auto log = SetupLog();
        ASSERT_FALSE(log.empty()) << how;
        EXPECT_TRUE(Has(log, "Setup stopped: the password dialog was cancelled.")) << how;
        ExpectEnd(log, 1602);
        EXPECT_FALSE(Has(log, "Begin UnpackAndSetup")) << how;
        EXPECT_FALSE(vt::Exists(kWork)) << how;
    }
}

TEST(SetupStub, FitsItsImage)
{
    std::string stub = vt::ReadAll(vt::BinDir() + "\\Setup.exe");
    ASSERT_FALSE(stub.empty());
    EXPECT_LE(stub.size(), 307200u);
    // The 32-bit build is the product, and it is kept far below its image: 200 KiB at most, of
    // which BLAKE3's code (portable, SSE4.1 and AVX2) takes about 48 KB, zstd's decoder about
    // 61 KB and the password switches with their file checks about 6 KB.
    if (sizeof(void*) == 4) {
        EXPECT_LE(stub.size(), 204800u);
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
    EXPECT_EQ(Run(setup), 351);
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
    // The payload (with its end record, made empty as the reader always has) and what the two
    // programs wrote, nothing planted.
    EXPECT_EQ(vt::List(kWork), (std::vector<std::string>{"VemloSetup.exe", "VemloSetup.note", "VemloSetup.run",
                                                         "^Vemlo_end^", "client.ini", "readme.txt", "ulmApxSvr.exe", "ulmApxSvr.note",
                                                         "ulmApxSvr.run"}));
    EXPECT_EQ(vt::ReadAll(kWork + "\\ulmApxSvr.exe"), vt::ReadAll(vt::BinDir() + "\\ulmApxSvr.exe"));
}

// A protected client upgraded with the password from the command line, its stored form in each
// of the lookup's three places: right (file or switch), it installs and the installer never sees
// the switch; wrong or a file that breaks a rule, unattended it ends with 1639 and unpacks
// nothing, attended the dialog asks as before; an unprotected client ignores it. No log holds
// the password or its stored form.
TEST_F(SetupRun, PasswordFromTheCommandLineUpgradesAProtectedClient)
{
    std::string setup = MakeSetup(kPayload);
    char common[MAX_PATH] = "";
    GetEnvironmentVariableA("CommonProgramFiles", common, sizeof common);
    const std::string vemloFiles = std::string(common) + "\\Vemlo";
    const std::string reginfo = vemloFiles + "\\Pelvar Client\\reginfo";
    auto at = [&](const std::string& name) { return run_ + "\\" + name; };
    vt::WriteAll(at("right.txt"), "secret\r\n");
    vt::WriteAll(at("wrong.txt"), "Secret\r\n");
    vt::WriteAll(at("empty.txt"), "\r\n");
    vt::WriteAll(at("long.txt"), std::string(33, 's') + "\r\n");
    vt::WriteAll(at("everyone.txt"), "secret\r\n");
    PSECURITY_DESCRIPTOR sd = NULL;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1301bf;;;WD)",
                                                                     SDDL_REVISION_1, &sd, NULL));
    EXPECT_TRUE(SetFileSecurityA(at("everyone.txt").c_str(), DACL_SECURITY_INFORMATION, sd));
    LocalFree(sd);
    ASSERT_TRUE(vt::MakeFileLink(at("link.txt"), at("right.txt")));

    enum Source { kUnprotected, kRegistry, kCustomFile, kUninstallInfoFile };
    auto protect = [&](Source source) {
        vt::RemoveTree(vemloFiles);
        ClearRegistry();
        if (source == kRegistry) Protect();
        if (source == kCustomFile || source == kUninstallInfoFile) {
            vt::MakeDirs(reginfo);
            bool custom = source == kCustomFile;
            ASSERT_TRUE(vt::WriteAll(reginfo + (custom ? "\\VemloCustom.ini" : "\\VemloUninstallInfo.ini"),
                                     "[Functions]\r\nUninstall=1\r\nInstall=" + std::string(kStoredSecret) + "\r\n"));
            DWORD code = 0;
            ASSERT_NE(custom ? CusIniMakeVrf(&code, reginfo.c_str()) : UninstallInfoMakeVrf(&code, reginfo.c_str()), 0);
            HKEY key;
            ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kUninstallKey, &key), ERROR_SUCCESS);
            RegSetValueExA(key, "DisplayVersion", 0, REG_SZ, (const BYTE*)"5.2.408", 8);
            RegCloseKey(key);
        }
    };
    const std::string refused = "Setup stopped: the given uninstall password could not be used.";
    const std::string wrong = "Setup stopped: the given uninstall password is wrong.";
    const struct {
        Source source;
        std::vector<std::string> args;
        int code;
        std::vector<std::string> lines;  // in the setup log, in this order
    } rows[] = {
        {kRegistry, {"/S", "/pwdfile=" + at("right.txt")}, 0, {"The given password is right.", "Begin UnpackAndSetup"}},
        {kCustomFile, {"/password=secret", "/S"}, 0, {"The given password is right.", "Begin UnpackAndSetup"}},
        {kUninstallInfoFile, {"-PWDFILE=" + at("right.txt"), "-s"}, 0, {"The given password is right."}},
        {kRegistry, {"/S", "/Password=Secret"}, 1639, {"The given password is wrong.", wrong}},
        {kCustomFile, {"/S", "/pwdfile=" + at("wrong.txt")}, 1639, {"The given password is wrong.", wrong}},
        {kRegistry, {"/S", "/pwdfile=" + at("link.txt")}, 1639,
         {"The password file was refused: it is a link, or its path goes through one (" + at("link.txt") + ").", refused}},
        {kUninstallInfoFile, {"/S", "/pwdfile=" + at("long.txt")}, 1639,
         {"The password file was refused: it is longer than 32 characters (" + at("long.txt") + ").", refused}},
        {kRegistry, {"/S", "/pwdfile=" + at("empty.txt")}, 1639,
         {"The password file was refused: its first line is empty (" + at("empty.txt") + ").", refused}},
        {kRegistry, {"/S", "/pwdfile=" + at("missing.txt")}, 1639,
         {"The password file was refused: it does not exist, system error 2 (" + at("missing.txt") + ").", refused}},
        {kCustomFile, {"/S", "/pwdfile=" + at("everyone.txt")}, 1639,
         {"The password file was refused: somebody other than SYSTEM, Administrators or the account the setup runs as "
              "may change it (" + at("everyone.txt") +
              ").",
          refused}},
        {kRegistry, {"/S", "/password=secret", "/pwdfile=" + at("right.txt")}, 1639,
         {"The given password was refused: it was given more than once.", refused}},
        {kRegistry, {"/S", "/password=" + std::string(33, 's')}, 1639,
         {"The given password was refused: it is longer than 32 characters.", refused}},
        {kUnprotected, {"/S", "/password=Secret"}, 0, {"The client is not protected: the given password is not used."}},
    };
    WindowSpotter spotter;
    for (const auto& row : rows) {
        std::string shown = row.args[0] + " " + row.args[1];
        vt::RemoveTree("c:\\VemloLog");
        vt::RemoveTree(kWork);
        vt::RemoveTree("C:\\VemloDemo");
        protect(row.source);
        EXPECT_EQ(Run(setup, row.args), row.code) << shown;
        auto log = SetupLog();
        ExpectEnd(log, row.code);
        size_t from = 0;
        for (auto& line : row.lines) {
            auto found = std::find(log.begin() + (long)from, log.end(), line);
            EXPECT_NE(found, log.end()) << shown << ": " << line;
            from = found == log.end() ? from : (size_t)(found - log.begin());
        }
        if (row.code == 0) {
            // The installer got the other switch as it was (the one word without "="), and no password.
            std::string kept;
            for (auto& a : row.args)
                if (a.find('=') == std::string::npos) kept = a;
            EXPECT_EQ(vt::SplitLines(vt::ReadAll(kWork + "\\VemloSetup.run")),
                      (std::vector<std::string>{"folder " + kWork, "args " + kept}))
                << shown;
            EXPECT_TRUE(vt::Exists("C:\\VemloDemo\\readme.txt")) << shown;
        } else {
            EXPECT_FALSE(vt::Exists(kWork)) << shown;
            EXPECT_FALSE(vt::Exists("C:\\VemloDemo")) << shown;
        }
        for (auto& name : vt::List("c:\\VemloLog")) {
            std::string text = vt::ReadAll("c:\\VemloLog\\" + name);
            for (const char* secret : {"secret", "Secret", "sssss", kStoredSecret})
                EXPECT_EQ(text.find(secret), std::string::npos) << shown << ": " << name << " holds " << secret;
        }
    }
    for (auto& w : spotter.Seen()) ADD_FAILURE() << "window in an unattended run: " << w;

    // Attended, a wrong password (or an unusable file) leaves it to the dialog, as without one.
    for (std::string given : std::vector<std::string>{"/password=Secret", "/pwdfile=" + at("link.txt")}) {
        vt::RemoveTree("c:\\VemloLog");
        protect(kRegistry);
        DialogScript script;
        script.entries = {"secret"};
        auto* s = &script;
        {
            vt::Watcher watcher([s](HWND w) { return (*s)(w); });
            EXPECT_EQ(Run(setup, {given}), 0) << given;
        }
        EXPECT_EQ(script.caption, PwdDialogText(kPwdTxtCaption, Chinese())) << given;
        auto log = SetupLog();
        EXPECT_TRUE(Has(log, "g_bExit = TRUE;")) << given;
        ExpectEnd(log, 0);
        EXPECT_EQ(vt::SplitLines(vt::ReadAll(kWork + "\\VemloSetup.run")),
                  (std::vector<std::string>{"folder " + kWork, "args "}));
    }
    vt::RemoveFolderLink(at("link.txt"));
    vt::RemoveTree(vemloFiles);
}

}  // namespace
