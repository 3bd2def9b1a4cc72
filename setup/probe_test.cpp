// Process probe: real processes under their image names, letter case, the 15-character form.
#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "log/log.h"
#include "setup/setup.h"
#include "testing/testutil.h"

namespace {

VEMLO_CHILD(sleep_ms)
{
    Sleep(argc > 0 ? (DWORD)atoi(argv[0]) : 10000);
    return 0;
}

// Runs a copy of this test executable under another image name until the holder goes away.
class NamedProcess {
public:
    explicit NamedProcess(const std::string& imageName)
    {
        char self[MAX_PATH];
        GetModuleFileNameA(NULL, self, MAX_PATH);
        std::string dir = vt::FreshDir("probe_" + std::to_string(GetCurrentProcessId()));
        path_ = dir + "\\" + imageName;
        CopyFileA(self, path_.c_str(), FALSE);
        process_ = vt::StartProgram(path_, {"--vemlo-child", "sleep_ms", "60000"});
        Sleep(300);  // until it shows in the process list
    }
    ~NamedProcess()
    {
        if (process_) {
            TerminateProcess(process_, 0);
            WaitForSingleObject(process_, 5000);
            CloseHandle(process_);
        }
        DeleteFileA(path_.c_str());
    }
    bool Started() const { return process_ != NULL; }

private:
    std::string path_;
    HANDLE process_ = NULL;
};

TEST(Probe, FindsRunningProcessInAnyLetterCaseAndOnlyItsOwnForm)
{
    EXPECT_EQ(chkProcExist("waitSetup", "RefreshCusCfg.exe"), kProcNotFound);
    NamedProcess updater("refreshCUSCFG.EXE");
    ASSERT_TRUE(updater.Started());
    EXPECT_EQ(chkProcExist("waitSetup", "RefreshCusCfg.exe"), kProcRunning);
    EXPECT_EQ(procEnumRequest("waitSetup", "RefreshCusCfg.exe"), kProcRunning);
    // The name is matched whole: the 15-character form is a different name.
    EXPECT_EQ(chkProcExist("waitSetup", "RefreshCusCfg.e"), kProcNotFound);
    EXPECT_EQ(chkProcExist("waitSetup", "RefreshCusCfg"), kProcNotFound);
}

TEST(Probe, FindsItselfAndNotAMissingName)
{
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    const char* bare = utl_FindLastBackslash(self) + 1;
    EXPECT_EQ(chkProcExist("waitCpd", bare), kProcRunning);
    EXPECT_EQ(procEnumRequest("waitCpd", bare), kProcRunning);
    EXPECT_EQ(chkProcExist("waitCpd", "no-such-image.exe"), kProcNotFound);
    EXPECT_EQ(procEnumRequest("waitCpd", "no-such-image.exe"), kProcNotFound);
}

// The narrow process entry is 296 bytes in a 32-bit program and 304 in a 64-bit one: a fact of
// the build's header, checked when it compiles.
static_assert(sizeof(PROCESSENTRY32) == (sizeof(void*) == 4 ? 296u : 304u), "PROCESSENTRY32 of another size");

TEST(Probe, SnapshotHolderPassesOverIdZeroAndClosesTwice)
{
    SnapshotHolder none(0, 0);
    EXPECT_EQ(none.Handle(), INVALID_HANDLE_VALUE);
    SnapshotHolder snap(TH32CS_SNAPPROCESS, 0);
    ASSERT_NE(snap.Handle(), INVALID_HANDLE_VALUE);
    PROCESSENTRY32 e;
    e.dwSize = sizeof e;
    int count = 0;
    for (BOOL ok = snap.First(&e); ok; ok = snap.Next(&e)) {
        EXPECT_NE(e.th32ProcessID, 0u);
        ++count;
    }
    EXPECT_GT(count, 0);
    EXPECT_TRUE(snap.Retake(TH32CS_SNAPPROCESS, 0));
    snap.Close();
    snap.Close();
    EXPECT_EQ(snap.Handle(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(snap.Retake(0, 0));
}

TEST(Probe, EnumErrorLineIsDetailOnlyForSystemIds)
{
    vt::RemoveTree("c:\\VemloLog");
    g_bLogDetail = 0;
    std::string file = "c:\\VemloLog\\stp_utlProc" + vt::TodayStamp() + ".log";
    LogProcEnumError("waitSetup", 0, 101, 18);
    LogProcEnumError("waitSetup", 4, 101, 18);
    EXPECT_FALSE(vt::Exists(file));
    LogProcEnumError("waitSetup", 1234, 7, 8);
    auto lines = vt::SplitLines(vt::ReadAll(file));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("] procEnumRequest from waitSetup: Err1 = 7, Err2 = 8, ProcId = 1234"),
              std::string::npos) << lines[0];
    g_bLogDetail = 1;
    LogProcEnumError("waitSetup", 0, 101, 18);
    g_bLogDetail = 0;
    lines = vt::SplitLines(vt::ReadAll(file));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("[DTL] [0x"), std::string::npos);
    EXPECT_NE(lines[1].find("ProcId = 0"), std::string::npos);
}

}  // namespace
