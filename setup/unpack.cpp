// Unpack-and-run: unpack the package appended to this executable into C:\tmp\VemloSetup0, run
// the companion program and then the inner installer, and wait for both.
#include <windows.h>
#include <shellapi.h>
#include <string.h>

#include "log/handles.h"
#include "log/log.h"
#include "package/package.h"
#include "setup/setup.h"

const SetupWaits kProductWaits = {300, 600, 500, 600, 50, 500};

namespace {

const DWORD kPackageOffset = 307200;  // the stub's own image, padded, fills the bytes before it
const char kWorkDir[] = "C:\\tmp\\VemloSetup0";  // what utl_CreateWorkDir makes of "VemloSetup"
const char kCompanion[] = "ulmApxSvr.exe";
const char kInstaller[] = "VemloSetup.exe";

enum : DWORD {
    kErrWorkDir = 351,
    kErrNoPackage = 352,
    kErrNoCompanion = 355,
    kErrNoInstaller = 356,
};

// Starts an unpacked program. While it is being started the file is held open without write or
// delete sharing, so nobody can swap it between the check and the start.
void StartProgram(const char* path, const char* parameters, int show)
{
    FileHandle hold(HoldForLaunch(path));
    ShellExecuteA(NULL, NULL, path, parameters, NULL, show);
}

}  // namespace

bool UnpackAndSetupWith(DWORD* error, const SetupWaits& waits)
{
    bool ok = false;
    char line[MAX_PATH + 64];
    char fullPath[MAX_PATH], dir[MAX_PATH], file[MAX_PATH];
    ZeroMemory(fullPath, sizeof fullPath);
    dir[0] = file[0] = '\0';
    GetModuleFileNameA(NULL, fullPath, sizeof fullPath - 1);
    if (const char* slash = utl_FindLastBackslash(fullPath)) {
        size_t n = (size_t)(slash - fullPath);
        memcpy(dir, fullPath, n);
        dir[n] = '\0';
        lstrcpynA(file, slash + 1, sizeof file);
    } else {
        lstrcpynA(file, fullPath, sizeof file);
    }

    do {
        // The folder is the administrators' and empty before anything is unpacked into it, and
        // stays open without delete sharing until the run ends, so it cannot be renamed or
        // replaced meanwhile.
        FileHandle workDir(SecureWorkDir(kWorkDir));
        if (!workDir.Valid() || !utl_CreateWorkDir(g_szWorkDir, sizeof g_szWorkDir, "VemloSetup", 0, 1)) {
            *error = kErrWorkDir;
            break;
        }

        char dam[MAX_PATH];
        if (utl_JoinPath(dam, sizeof dam, g_szWorkDir, "DAM")) utl_RemoveWorkDir(dam);

        DWORD high = 0, low = 0;
        int sized;
        const char* srcDir = dir;
        if (utl_FileExists(fullPath)) {
            sized = utl_GetFileSize(fullPath, &high, &low);
        } else {
            WriteSetupLog(fullPath);
            sized = utl_GetFileSize(file, &high, &low);
            srcDir = ".";
        }
        if (!sized || high != 0 || low <= kPackageOffset) {
            *error = kErrNoPackage;
            break;
        }

        if (!utl_FileUnpack(srcDir, file, g_szWorkDir, error, kPackageOffset)) break;

        char program[MAX_PATH];
        if (!utl_JoinPath(program, sizeof program, g_szWorkDir, kCompanion) || !utl_FileExists(program)) {
            *error = kErrNoCompanion;
            break;
        }
        StartProgram(program, "-setUpdInfo", SW_HIDE);
        Sleep(waits.afterCompanionStartMs);
        for (DWORD round = 0; chkProcExist("waitCpd", kCompanion) == kProcRunning && round < waits.companionRounds;
             ++round)
            Sleep(waits.companionIntervalMs);

        if (!utl_JoinPath(program, sizeof program, g_szWorkDir, kInstaller) || !utl_FileExists(program)) {
            *error = kErrNoInstaller;
            break;
        }
        StartProgram(program, NULL, SW_SHOW);

        DWORD appeared = 0;
        while (chkProcExist("waitSetup", kInstaller) != kProcRunning) {
            Sleep(waits.appearIntervalMs);
            if (++appeared >= waits.appearRounds) break;
        }
        utl_Format(line, sizeof line, "vs-stp started at %u", appeared);
        WriteSetupLog(line);

        DWORD running = 0;
        while (chkProcExist("waitSetup", kInstaller) == kProcRunning) {
            Sleep(waits.runningIntervalMs);
            ++running;
        }
        utl_Format(line, sizeof line, "vs-stp ended at %u.", running);
        WriteSetupLog(line);
        ok = true;
    } while (false);

    if (g_hInstanceEvent) {
        CloseHandle(g_hInstanceEvent);
        g_hInstanceEvent = NULL;
    }
    PostQuitMessage(0);
    return ok;
}

bool UnpackAndSetup(DWORD* error) { return UnpackAndSetupWith(error, kProductWaits); }
