// Setup driver: entry point and pre-flight checks, unpack-and-run sequence, process probe.
#pragma once
#include <windows.h>
#include <tlhelp32.h>

#include "core/payload_digest.h"

// ---- Program-wide values ----------------------------------------------------------------------

extern HANDLE g_hInstanceEvent;    // the single-instance event, NULL when none
extern char g_szWorkDir[MAX_PATH];   // the work directory of the unpack-and-run sequence
// This executable's file, opened by WinMain before anything else and held (shared for reading
// only) until the run ends; the package is read through it. INVALID_HANDLE_VALUE when none.
extern HANDLE g_hSetupFile;
extern char g_szSetupPath[MAX_PATH];  // its path, from GetModuleFileNameA

// ---- Process presence probe -------------------------------------------------------------------

enum { kProcRunning = 0, kProcNotFound = 1, kProcListUnreadable = 2 };

// 0 when a process whose image name equals name (any letter case) runs, 1 when none does,
// 2 when the process list could not be read (logged under tag).
int chkProcExist(const char* tag, const char* name);
// Like chkProcExist, but passes over process id 0, strips any directory from the listed image
// name, and reports failures through LogProcEnumError.
int procEnumRequest(const char* tag, const char* name);
// "procEnumRequest from <tag>: Err1 = .., Err2 = .., ProcId = .." under "utlProc"; a detail
// line for process ids 0 and 4.
void LogProcEnumError(const char* tag, DWORD procId, DWORD err1, DWORD err2);

// Owns one tool-help snapshot; passes over entries whose process id is 0.
class SnapshotHolder {
public:
    SnapshotHolder(DWORD flags, DWORD processId);
    ~SnapshotHolder();
    SnapshotHolder(const SnapshotHolder&) = delete;
    SnapshotHolder& operator=(const SnapshotHolder&) = delete;
    bool Retake(DWORD flags, DWORD processId);
    BOOL First(PROCESSENTRY32* entry);
    BOOL Next(PROCESSENTRY32* entry);
    void Close();
    HANDLE Handle() const { return snapshot_; }
private:
    HANDLE snapshot_;
};

// ---- Pre-flight checks ------------------------------------------------------------------------

// Free bytes of root ("C:") available to the caller, or -1 when they cannot be determined.
LONGLONG GetFreeDiskSpace(const char* root);
// 1 when the process token holds the built-in Administrators group.
int IsCurUserAdmin();
// The free-space rule: at least 50 MB, or unknown (-1). megabytesOut gets the logged figure.
bool IsFreeSpaceEnough(LONGLONG freeBytes, int* megabytesOut);

// The messages of the stub, in the language of the system.
enum SetupMessage { kMsgPreviousInstance, kMsgNoAdmin, kMsgTooLittleSpace, kMsgUpdaterBusy };
const char* SetupCaption(bool chinese);
const char* SetupMessageText(SetupMessage which, bool chinese);

// ---- Work folder of the elevated setup --------------------------------------------------------

// Makes path (C:\tmp\VemloSetup0) an empty folder owned by Administrators with a protected DACL:
// SYSTEM and Administrators full control, Users read and execute, nothing inherited. Decided on
// the folder held open, never on its name: a folder that is exactly that is emptied and reused;
// anything else (another owner, a DACL that is not protected, a link) is deleted whole, a link
// itself and never what it points to, and the folder is made anew. A folder above that is a
// link, a plain file in the way, or anything in the folder that cannot be deleted fails it.
// Returns the folder held open without delete sharing (it cannot be renamed, replaced or
// deleted until the caller closes the handle), or INVALID_HANDLE_VALUE.
HANDLE SecureWorkDir(const char* path);
// The security SecureWorkDir gives the folder, as SDDL text (for support and tests).
int WorkDirSecurityText(char* out, unsigned size);
// 1 when the folder path (not a link) is owned by Administrators and has exactly the protected
// DACL SecureWorkDir gives.
int WorkDirIsSecure(const char* path);
// Opens a program to be started so that nobody can write, rename or delete it until the handle
// is closed (others may still read and run it). INVALID_HANDLE_VALUE on failure.
HANDLE HoldForLaunch(const char* path);

// ---- This executable's own file ----------------------------------------------------------------

// Opens the running executable's file for reading, shared for reading only, after checking that
// its headers are those of the image that runs. path (size bytes) receives the module path, or
// "" when GetModuleFileNameA failed or cut it. INVALID_HANDLE_VALUE when the path is cut, the
// file cannot be opened, or it is not the loaded image (replaced since the start).
HANDLE OpenOwnImage(char* path, DWORD size);
// 1 when the first bytes of file (up to 4096 of its headers) are those that module was loaded
// from, the image base the loader may have written left aside.
int IsLoadedImage(HANDLE file, HMODULE module);
// The payload slot of the running image, as the loader mapped it (the file may show anything by
// now; the mapped image is what Windows checked the signature of). 1 with *digest set when vpack
// filled it: only the package with that digest may be installed; 0 when it is empty (an
// unbound setup takes any sound package); -1 when it is no slot.
int ReadOwnSlot(DigestValue* digest);

// ---- Start-up and unpack-and-run --------------------------------------------------------------

// Rounds and intervals of the waits for the started programs; tests shorten them.
struct SetupWaits {
    DWORD afterCompanionStartMs;  // 300
    DWORD companionRounds;        // 600
    DWORD companionIntervalMs;    // 500
    DWORD appearRounds;           // 600
    DWORD appearIntervalMs;       // 50
    DWORD runningIntervalMs;      // 500
};
extern const SetupWaits kProductWaits;

// How a run can end before the installer has run, with the exit code each one returns (the
// Windows Installer's numbers, so deployment tools read them as they read an installer's).
enum SetupStop {
    kStopPreviousInstance,  // 1618: another setup holds the instance event
    kStopNoAdmin,           // 740
    kStopTooLittleSpace,    // 112: less than 50 MB free on C:
    kStopUpdaterBusy,       // 1618: the customisation updater runs
    kStopCancelled,         // 1602: the password dialog was cancelled or closed
    kStopWrongPasswords,    // 1625: three wrong passwords
    kStopPasswordUnasked,   // 1625: a password is needed but cannot be asked (unattended)
    kStopNoInstanceEvent,   // 1603: the instance event could not be made
};
DWORD SetupStopExitCode(SetupStop why);

// true when a blank-separated word of commandLine (null: none) is /S or /quiet, in any letter
// case: nobody is at the desktop, so no box and no dialog may wait for an answer.
bool IsUnattended(const char* commandLine);

// The whole run of the stub (WinMain's body) with the command line after the program name.
// Returns the exit code: the installer's own when it ran to its end, else why the run stopped
// (SetupStopExitCode) or the error number of the unpack-and-run sequence.
int SetupMain(HINSTANCE instance, const char* commandLine);

// Unpacks the package appended to this executable and runs the companion and then the installer,
// giving the installer installerArgs (null or empty: none). true when the installer ran to its
// end, with its exit code in *installerExit; false with *error set: 351, 352, 354 (the installer
// did not start), 355, 356 or the package reader's number.
bool UnpackAndSetup(DWORD* error, const char* installerArgs, DWORD* installerExit);
bool UnpackAndSetupWith(DWORD* error, const char* installerArgs, DWORD* installerExit, const SetupWaits& waits);
