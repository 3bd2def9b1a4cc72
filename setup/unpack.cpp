// Unpack-and-run: unpack the package appended to this executable into C:\tmp\VemloSetup0, run
// the companion program and then the inner installer, and wait for both.
#include <windows.h>
#include <shellapi.h>
#include <string.h>

#include "base/files.h"
#include "base/handles.h"
#include "base/text.h"
#include "log/log.h"
#include "package/package.h"
#include "setup/setup.h"

const SetupWaits kProductWaits = {600, 500, 500};

namespace {

const DWORD kPackageOffset = 307200;  // the stub's own image, padded, fills the bytes before it
const char kWorkDir[] = "C:\\tmp\\VemloSetup0";  // what utl_CreateWorkDir makes of "VemloSetup"
const char kCompanion[] = "ulmApxSvr.exe";
const char kInstaller[] = "VemloSetup.exe";

enum : DWORD {
    kErrWorkDir = 351,
    kErrNoPackage = 352,
    kErrCompanionStart = 353,
    kErrInstallerStart = 354,
    kErrNoCompanion = 355,
    kErrNoInstaller = 356,
};

enum StartResult { kStarted, kNotHeld, kNotStarted };

// Starts an unpacked program in the work folder. While it is being started the file is held
// open without write or delete sharing, so nobody can swap it between the check and the start;
// a program that cannot be held is not started. With process given, the caller gets the
// process handle and closes it. Otherwise *systemError says why the program was not started.
StartResult StartProgram(const char* path, const char* parameters, int show, HANDLE* process, DWORD* systemError)
{
    FileHandle hold(HoldForLaunch(path));
    if (!hold.Valid()) {
        *systemError = GetLastError();
        return kNotHeld;
    }
    SHELLEXECUTEINFOA run;
    ZeroMemory(&run, sizeof run);
    run.cbSize = sizeof run;
    // No error box from the shell: the caller reports a failed start, also when nobody watches.
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    run.lpFile = path;
    run.lpParameters = parameters && *parameters ? parameters : NULL;
    // Not Setup's own current folder (often Downloads): a program's current folder is on its
    // DLL search path.
    run.lpDirectory = g_szWorkDir;
    run.nShow = show;
    if (!ShellExecuteExA(&run)) {
        *systemError = GetLastError();
        return kNotStarted;
    }
    KernelHandle started(run.hProcess);
    if (!started.Valid()) {  // the shell handed the file to something else: no process of ours
        *systemError = GetLastError();
        return kNotStarted;
    }
    if (process) *process = started.Release();
    return kStarted;
}

// "start of <name> failed with Err <error>, system error <n>: <the system's text>"
void LogStartFailure(const char* name, DWORD error, DWORD systemError)
{
    char reason[256];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, systemError, 0,
                             reason, sizeof reason, NULL);
    while (n > 0 && (reason[n - 1] == '\r' || reason[n - 1] == '\n' || reason[n - 1] == ' ')) --n;
    reason[n] = '\0';
    char line[MAX_PATH + 320];
    utl_Format(line, sizeof line, "start of %s failed with Err %u, system error %u: %s", name, error, systemError,
               reason);
    WriteSetupLog(line);
}

}  // namespace

bool UnpackAndSetupWith(DWORD* error, const char* installerArgs, DWORD* installerExit, const SetupWaits& waits)
{
    bool ok = false;
    char line[MAX_PATH + 64];
    char fullPath[MAX_PATH], dir[MAX_PATH], file[MAX_PATH];
    dir[0] = file[0] = '\0';
    // The package is read only through the file WinMain has held since the start: a file opened
    // by name now could be anybody's (the name may have been swapped since).
    HANDLE self = g_hSetupFile;
    lstrcpynA(fullPath, g_szSetupPath, sizeof fullPath);
    if (const char* slash = utl_FindLastBackslash(fullPath)) {
        size_t n = (size_t)(slash - fullPath);
        memcpy(dir, fullPath, n);
        dir[n] = '\0';
        lstrcpynA(file, slash + 1, sizeof file);
    } else {
        lstrcpynA(file, fullPath, sizeof file);
    }

    // Attended, a window shows the unpack's progress when it takes a while.
    SetupProgress progress = SetupProgress();
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

        // Never a file found by name instead (the current folder, a file put in its place): without
        // the held file there is no package.
        LARGE_INTEGER size;
        if (self == INVALID_HANDLE_VALUE) WriteSetupLog(fullPath);
        if (self == INVALID_HANDLE_VALUE || !GetFileSizeEx(self, &size) || size.HighPart != 0 ||
            size.LowPart <= kPackageOffset) {
            *error = kErrNoPackage;
            break;
        }

        // The filled slot binds this image to one package: the same stub with another package
        // (a swapped file, a setup assembled by somebody else), or a stub bound to none, is
        // refused with 167 before anything is unpacked.
        DigestValue bound;
        if (!ReadOwnBinding(kPackageOffset, &bound)) {
            *error = kErrDigestMismatch;
            break;
        }
        // The window counts the bytes written: what the records unpack to, not what they take here.
        if (!IsUnattended(installerArgs))
            StartProgress(&progress, utl_PackageContentBytes(self, kPackageOffset), kProgressDelayMs);
        int unpacked = utl_FileUnpackHeldCounted(self, dir, file, g_szWorkDir, error, kPackageOffset,
                                                 &progress.bytesDone, &bound);
        ProgressUnpacked(&progress);
        if (!unpacked) break;

        char program[MAX_PATH];
        if (!utl_JoinPath(program, sizeof program, g_szWorkDir, kCompanion) || !utl_FileExists(program)) {
            *error = kErrNoCompanion;
            break;
        }
        DWORD reason = 0;
        HANDLE process = NULL;
        StartResult started = StartProgram(program, "-setUpdInfo", SW_HIDE, &process, &reason);
        KernelHandle companion(process);
        if (started == kNotHeld) {
            LogStartFailure(kCompanion, kErrNoCompanion, reason);
            *error = kErrNoCompanion;
            break;
        }
        // Without its update information the client still installs: the installer runs anyway.
        if (started == kNotStarted) LogStartFailure(kCompanion, kErrCompanionStart, reason);
        // The companion started here, by its handle: the installed client's own ulmApxSvr.exe,
        // which may run through the whole upgrade, holds nothing.
        DWORD round = 0;
        while (companion.Valid() && round < waits.companionRounds &&
               WaitForSingleObject(companion.Get(), waits.companionIntervalMs) == WAIT_TIMEOUT)
            ++round;

        if (!utl_JoinPath(program, sizeof program, g_szWorkDir, kInstaller) || !utl_FileExists(program)) {
            *error = kErrNoInstaller;
            break;
        }
        StopProgress(&progress);  // gone before the installer's window can appear
        process = NULL;
        started = StartProgram(program, installerArgs, SW_SHOW, &process, &reason);
        if (started != kStarted) {
            *error = started == kNotHeld ? kErrNoInstaller : kErrInstallerStart;
            LogStartFailure(kInstaller, *error, reason);
            break;
        }
        KernelHandle installer(process);

        // The installer started here, and then what of its name it started, or its descendants
        // did (an installer that relaunches itself): never another VemloSetup.exe, which anybody
        // could start anywhere. Held from its start, the installer is there at once.
        StartedTree tree(installer.Get(), kInstaller);
        const DWORD appeared = 0;
        utl_Format(line, sizeof line, "vs-stp started at %u", appeared);
        WriteSetupLog(line);

        DWORD running = 0;
        while (tree.Running()) {
            tree.Wait(waits.runningIntervalMs);
            ++running;
        }
        utl_Format(line, sizeof line, "vs-stp ended at %u.", running);
        WriteSetupLog(line);
        // The exit code is the started installer's own, which has ended by now.
        WaitForSingleObject(installer.Get(), INFINITE);
        if (!GetExitCodeProcess(installer.Get(), installerExit)) *installerExit = ERROR_INSTALL_FAILURE;
        ok = true;
    } while (false);
    StopProgress(&progress);

    ReleaseSetupInstance();
    if (g_hSetupFile != INVALID_HANDLE_VALUE) {
        CloseHandle(g_hSetupFile);
        g_hSetupFile = INVALID_HANDLE_VALUE;
    }
    PostQuitMessage(0);
    return ok;
}

bool UnpackAndSetup(DWORD* error, const char* installerArgs, DWORD* installerExit)
{
    return UnpackAndSetupWith(error, installerArgs, installerExit, kProductWaits);
}
