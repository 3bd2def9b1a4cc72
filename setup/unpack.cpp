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
    dir[0] = file[0] = '\0';
    // The package is read through the file WinMain has held since the start; a run that did not
    // go through WinMain opens it here.
    FileHandle ownedSelf;
    HANDLE self = g_hSetupFile;
    if (self == INVALID_HANDLE_VALUE) {
        ownedSelf.Reset(OpenOwnImage(fullPath, sizeof fullPath));
        self = ownedSelf.Get();
    } else {
        lstrcpynA(fullPath, g_szSetupPath, sizeof fullPath);
    }
    if (const char* slash = utl_FindLastBackslash(fullPath)) {
        size_t n = (size_t)(slash - fullPath);
        memcpy(dir, fullPath, n);
        dir[n] = '\0';
        lstrcpynA(file, slash + 1, sizeof file);
    } else {
        lstrcpynA(file, fullPath, sizeof file);
    }

    do {
        // The folder is the administrators' before anything is emptied or unpacked into it, and
        // stays open without delete sharing, so it cannot be renamed or replaced meanwhile.
        if (!SecureWorkDir(kWorkDir) ||
            !utl_CreateWorkDir(g_szWorkDir, sizeof g_szWorkDir, "VemloSetup", 0, 1)) {
            *error = kErrWorkDir;
            break;
        }
        FileHandle workDir(HoldWorkDir(g_szWorkDir));

        char dam[MAX_PATH];
        if (utl_JoinPath(dam, sizeof dam, g_szWorkDir, "DAM")) utl_RemoveWorkDir(dam);

        // Never a file found by name instead (the current folder, a file put in its place): without
        // the held file there is no package.
        LARGE_INTEGER size;
        if (self == INVALID_HANDLE_VALUE) WriteSetupLog(fullPath);
        if (self == INVALID_HANDLE_VALUE || !GetFileSizeEx(self, &size) || size.HighPart != 0 ||
            size.LowPart <= kPackageOffset) {
            *error = kErrNoPackage;
            break;
        }

        if (!utl_FileUnpackHeld(self, dir, file, g_szWorkDir, error, kPackageOffset)) break;

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
    if (g_hSetupFile != INVALID_HANDLE_VALUE) {
        CloseHandle(g_hSetupFile);
        g_hSetupFile = INVALID_HANDLE_VALUE;
    }
    PostQuitMessage(0);
    return ok;
}

bool UnpackAndSetup(DWORD* error) { return UnpackAndSetupWith(error, kProductWaits); }
