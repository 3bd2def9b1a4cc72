// Runtime utilities: run directory from a copied executable, file version, thread start, waits.
#include <gtest/gtest.h>

#include <process.h>
#include <string.h>

#include <string>
#include <vector>

#include "log/log.h"
#include "testing/testutil.h"

// Copies this test executable into dir and runs child routine `child` of the copy there;
// returns its exit code (-1 when it could not run). Used by the switch tests as well.
int RunFromCopy(const std::string& dir, const std::string& child, const std::vector<std::string>& args)
{
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    std::string exe = dir + "\\copy_test.exe";
    if (!CopyFileA(self, exe.c_str(), FALSE)) return -1;
    std::string cmd = "\"" + exe + "\" --vemlo-child " + child;
    for (const auto& a : args) cmd += " \"" + a + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    if (!CreateProcessA(exe.c_str(), line.data(), NULL, NULL, FALSE, 0, NULL, dir.c_str(), &si, &pi)) return -1;
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    else TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return (int)code;
}

namespace {

const std::string kLogDir = "c:\\VemloLog";

std::string LogOf(const std::string& tag) { return vt::ReadAll(kLogDir + "\\stp_" + tag + vt::TodayStamp() + ".log"); }

// Each line minus its time stamp (22 characters) and the thread text "[0x...] ".
std::vector<std::string> Messages(const std::string& tag)
{
    std::vector<std::string> out;
    for (const auto& line : vt::SplitLines(LogOf(tag))) {
        size_t p = line.find("] ", 22);
        out.push_back(p == std::string::npos ? line : line.substr(p + 2));
    }
    return out;
}

// argv: output file, keepSeparator. Writes what getCurRunPath left in a 260-byte buffer.
VEMLO_CHILD(RunPath)
{
    if (argc < 2) return 99;
    char buffer[260];
    int rc = getCurRunPath(buffer, sizeof buffer, argv[1][0] == '1');
    vt::WriteAll(argv[0], buffer);
    return rc;
}

class Runtime : public ::testing::Test {
protected:
    void SetUp() override { vt::RemoveTree(kLogDir); }
};

TEST_F(Runtime, RunPathWithAndWithoutSeparator)
{
    std::string dir = vt::FreshDir("runpath") + "\\a\\b";
    vt::MakeDirs(dir);
    std::string out = vt::FreshDir("runpath_out") + "\\path.txt";
    EXPECT_EQ(RunFromCopy(dir, "RunPath", {out, "1"}), 1);
    EXPECT_EQ(vt::ReadAll(out), "C:\\vtest\\runpath\\a\\b\\");
    EXPECT_EQ(RunFromCopy(dir, "RunPath", {out, "0"}), 1);
    EXPECT_EQ(vt::ReadAll(out), "C:\\vtest\\runpath\\a\\b");
    EXPECT_EQ(LogOf("UtlCommon"), "");  // nothing is logged on success
}

TEST_F(Runtime, RunPathCutByASmallBuffer)
{
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    char buffer[12];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(getCurRunPath(buffer, 10, 1), 0);
    EXPECT_EQ(std::string(buffer), std::string(self, 9));  // the cut path, NUL in the last byte
    EXPECT_EQ(buffer[10], '#');
    auto lines = Messages("UtlCommon");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "getCurRunPath: insufficient buffer -- " + std::string(self, 9));
}

TEST_F(Runtime, RunPathRefusesNoBuffer)
{
    char buffer[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(getCurRunPath(buffer, 0, 1), 0);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(getCurRunPath(nullptr, 260, 1), 0);
    auto lines = Messages("UtlCommon");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "getCurRunPath: invalid paras.");
}

TEST_F(Runtime, FileVersionOfOwnVersionBlock)
{
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    DWORD ms = 0, ls = 0;
    ASSERT_EQ(getVer("verTest", self, &ms, &ls), 1);
    EXPECT_EQ(ms, 0x00050002u);
    EXPECT_EQ(ls, 0x01980001u);
    EXPECT_EQ(LogOf("verTest"), "");
}

TEST_F(Runtime, FileVersionMissingIsLoggedUnderTheCallersTag)
{
    std::string file = vt::FreshDir("ver") + "\\plain.txt";
    vt::WriteAll(file, "no version here");
    DWORD ms = 7, ls = 7;
    EXPECT_EQ(getVer("verTest", file.c_str(), &ms, &ls), 0);
    EXPECT_EQ(getVer("verTest", "C:\\vtest\\ver\\missing.dll", &ms, &ls), 0);
    EXPECT_EQ(ms, 7u);
    EXPECT_EQ(ls, 7u);
    auto lines = Messages("verTest");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "getVer:get-size failed.");
}

// The file-version library is loaded at run time, never imported: the stub imports KnownDLLs only.
TEST(RuntimeImports, VersionLibraryIsNotImported)
{
    auto base = reinterpret_cast<const unsigned char*>(GetModuleHandleA(NULL));
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(dir.VirtualAddress, 0u);
    std::vector<std::string> names;
    for (auto imp = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp)
        names.push_back(reinterpret_cast<const char*>(base + imp->Name));
    EXPECT_FALSE(names.empty());
    for (const auto& n : names) EXPECT_NE(_stricmp(n.c_str(), "version.dll"), 0) << n;
}

unsigned __stdcall SetEventRoutine(void* arg)
{
    SetEvent(static_cast<HANDLE>(arg));
    return 5;
}

TEST_F(Runtime, ThreadStartLogsTheNewThreadsId)
{
    HANDLE done = CreateEventA(NULL, TRUE, FALSE, NULL);
    unsigned id = 0;
    HANDLE thread = utl_BeginThread(NULL, 0, SetEventRoutine, done, 0, &id, "worker");
    ASSERT_NE(thread, (HANDLE)NULL);
    EXPECT_EQ(utl_WaitForHandle(thread, "waitTest", "worker"), 1);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 5u);
    EXPECT_EQ(WaitForSingleObject(done, 0), WAIT_OBJECT_0);
    CloseHandle(thread);
    CloseHandle(done);
    char tag[32], want[64];
    wsprintfA(tag, "Proc_%x_", GetCurrentProcessId());
    wsprintfA(want, "worker id-%x.", id);
    auto lines = Messages(tag);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], want);
}

unsigned __stdcall TakeMutexAndLeave(void* arg)
{
    WaitForSingleObject(static_cast<HANDLE>(arg), INFINITE);
    return 0;  // ends owning the mutex: it is abandoned
}

TEST_F(Runtime, WaitCountsAnAbandonedMutexAsAcquired)
{
    HANDLE mutex = CreateMutexA(NULL, FALSE, NULL);
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, TakeMutexAndLeave, mutex, 0, NULL));
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(utl_WaitForHandle(mutex, "waitTest", "abandoned"), 1);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    EXPECT_EQ(LogOf("waitTest"), "");
}

TEST_F(Runtime, WaitOnABadHandleFailsAndSaysWhy)
{
    EXPECT_EQ(utl_WaitForHandle(NULL, "waitTest", "no handle"), 0);
    auto lines = Messages("waitTest");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "no handle mtx-waiting returned 4294967295.");
}

}  // namespace
