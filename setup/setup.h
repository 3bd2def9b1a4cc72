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
// kProcRunning when a process runs whose image name (any directory stripped) is one of names (any
// letter case) and that accept, when given, takes; else as procEnumRequest.
int FindProcessWhere(const char* tag, const char* const* names, int count, bool (*accept)(DWORD processId));
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
// The file name of a process list's image path: what follows its last backslash.
const char* BareImageName(const char* path);

// ---- The customisation updater ---------------------------------------------------------------

// What is known of a process that bears the updater's name.
struct UpdaterFacts {
    bool pathKnown;       // its image path could be read
    bool tokenKnown;      // its token could be read
    bool elevated;        // it runs with the Administrators group enabled (or as SYSTEM)
    bool folderKnown;     // the security of its image's folder could be read
    bool folderWritable;  // somebody but SYSTEM, Administrators and TrustedInstaller may add or replace files there
};
// The rule: a process of the name is the updater unless it runs as a standard user from a folder
// that users can write (where anybody could have put a program of that name); where any of that
// cannot be read, the name decides.
bool CountsAsUpdater(const UpdaterFacts& facts);
// kProcRunning when a process named RefreshCusCfg.exe or RefreshCusCfg.e (any letter case, any
// folder) runs that CountsAsUpdater; kProcNotFound; kProcListUnreadable (logged under tag).
int UpdaterRunning(const char* tag);

// ---- What the run started ---------------------------------------------------------------------

// A process the run started and the processes started by it or by its descendants, found through
// the parent ids of the process list. Each one found is held by handle, so its id cannot be given
// to another process while it is tracked; one whose parent id belonged to an earlier process
// (created before the tree's process of that id) is not of the tree. A process that had ended
// before a look's list was made is let go once that list showed everything it started, so any
// number of helpers that came and went leave room for what follows (kMaxProcesses bounds those
// that run at one time). A process that starts a child and ends between two looks hides that
// child; a process list that cannot be read finds nothing new.
class StartedTree {
public:
    // root: the started process, whose handle stays the caller's; name: the image name
    // (any letter case) of the descendants that are waited for like the root itself.
    StartedTree(HANDLE root, const char* name);
    ~StartedTree();
    StartedTree(const StartedTree&) = delete;
    StartedTree& operator=(const StartedTree&) = delete;
    // Looks for new descendants; true while the root or a descendant of the name runs.
    bool Running();
    // Waits at most ms for the root or a running descendant of the name to end.
    void Wait(DWORD ms);
    // How many processes are tracked, the root included (tests).
    int Count() const;
    static const int kMaxProcesses = 64;

private:
    struct Entry {
        DWORD id;
        HANDLE process;
        FILETIME created;
        bool confirmed;  // listed under a parent of the tree in a list made after its open
        bool named;
        bool endSeen;  // had ended when a look's list was made
    };
    int Find(DWORD id, bool confirmedOnly) const;
    void Drop(int i);
    void DropEnded();
    void Look();
    Entry entries_[kMaxProcesses];
    int count_;
    const char* name_;
};

// ---- Single instance --------------------------------------------------------------------------

// What a name of the guard turned out to be.
enum InstanceName {
    kNameOurs,         // made now: this run holds it
    kNameSetup,        // there already, made by an administrator or the system: another setup's
    kNameTaken,        // held by another program (another owner, another kind, or denied to us)
    kNameFailed,       // could not be made (only the private namespace's)
    kNameUnsupported,  // the system has no private namespaces (Wine)
};
enum InstanceVerdict {
    kInstanceGuarded,       // this run holds a guard: it goes on
    kInstanceAnotherSetup,  // 1618
    kInstanceNoGuard,       // 1603: nothing could be made that guards the run
    kInstanceUnguarded,     // the global name is another program's and there are no private namespaces
};
// The rule: another setup holds either name; else a name held is a guard. The global name, which
// anybody can take, stops no setup: the private namespace's, which only administrators can make,
// guards it then; without private namespaces (never on Windows 7 and later) the run goes on.
InstanceVerdict DecideInstance(InstanceName global, InstanceName privateName);
// Takes the guard: Global\evnt_Vemlo_stpDamon, made owned by Administrators (older setups look for
// it; one already there counts only when Administrators or SYSTEM own it), and the private
// namespace "VemloSetup", bounded by the Administrators group (one already there is another
// setup's: only an administrator can make it, and it lasts while its maker runs). Whatever it holds stays
// held (g_hInstanceEvent among it) until ReleaseSetupInstance; a verdict that stops the run leaves
// nothing held.
InstanceVerdict ClaimSetupInstance();
void ReleaseSetupInstance();  // safe when nothing is held

// ---- Pre-flight checks ------------------------------------------------------------------------

// Free bytes of root ("C:") available to the caller, or -1 when they cannot be determined.
LONGLONG GetFreeDiskSpace(const char* root);
// 1 when the token this thread acts with (its impersonation token, else the process's) has the
// built-in Administrators group enabled; a group kept for deny only (a filtered token) is not.
int IsCurUserAdmin();
// The free-space rule: at least 50 MB, or unknown (-1). megabytesOut gets the logged figure.
bool IsFreeSpaceEnough(LONGLONG freeBytes, int* megabytesOut);

// The messages of the stub, in the language of the system.
enum SetupMessage { kMsgPreviousInstance, kMsgNoAdmin, kMsgTooLittleSpace, kMsgUpdaterBusy };
const char* SetupCaption(bool chinese);
const char* SetupMessageText(SetupMessage which, bool chinese);
// The help box's text: the switches, the exit codes, and that nothing was installed.
const char* SetupHelpText(bool chinese);

// ---- Progress of an attended unpack ------------------------------------------------------------

extern const DWORD kProgressDelayMs;  // 500: an unpack that is done sooner shows nothing
struct SetupProgress {
    volatile LONG bytesDone;  // added to by the unpack (utl_FileUnpackHeldCounted)
    DWORD totalBytes;
    DWORD delayMs;
    int dpi;  // the display's dots per inch, when the window is up
    volatile LONG state;  // whether the window came up, or the unpack ended first
    HANDLE stop, thread;
};
// Starts the window's thread: when neither ProgressUnpacked nor StopProgress has come after
// delayMs, it shows a small window (caption as the boxes', SetupProgressText and a bar of
// bytesDone out of totalBytes) until StopProgress. false when no thread could be started (then
// nothing is shown).
bool StartProgress(SetupProgress* progress, DWORD totalBytes, DWORD delayMs);
// The unpack has ended: a window not up yet never comes; one that is up stays until StopProgress.
void ProgressUnpacked(SetupProgress* progress);
// Ends the thread; its window, if any, is gone when this returns. Safe on a progress never
// started (zero-initialised) or already stopped.
void StopProgress(SetupProgress* progress);
// The bar's share of done out of total, 0 to 100 (100 when total is 0).
int ProgressPercent(DWORD done, DWORD total);
const char* SetupProgressText(bool chinese);

// ---- Work folder of the elevated setup --------------------------------------------------------

// Makes path (C:\tmp\VemloSetup0) an empty folder owned by Administrators with a protected DACL:
// SYSTEM and Administrators full control, Users read and execute, nothing inherited. Decided on
// the folder held open, never on its name: a folder that is exactly that is emptied and reused;
// anything else (another owner, a DACL that is not protected, a link) is deleted whole, a link
// itself and never what it points to, and the folder is made anew; one made anew must then be
// exactly that as well. A folder above that is a link or belongs to neither Administrators nor
// SYSTEM, a plain file in the way, or anything in the folder that cannot be deleted fails it.
// (Where the system keeps no owners, as under Wine, folders of this process's user pass.)
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
// Whether sid is the user this process runs as (its token's user).
bool IsOwnUser(PSID sid);

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
// filled it: only the package with that digest may be installed; 0 when it is empty; -1 when it
// is no slot.
int ReadOwnSlot(DigestValue* digest);
// Whether this image may install the package at packageOffset of its file: only with its slot
// filled (an empty one binds it to no package, so the image, signed, would vouch for any), and
// only when the package begins outside the certificate table that the mapped headers name (the
// signature covers everything but that table). true with *digest set to the slot's value; false
// with a line in the detail log ("UtlFile") that says why.
bool ReadOwnBinding(DWORD packageOffset, DigestValue* digest);

// ---- Start-up and unpack-and-run --------------------------------------------------------------

// Rounds and intervals of the waits for the started programs; tests shorten them. Both are
// waited for by their handles: the companion for at most companionRounds rounds, the installer
// (and what of its name it started) without limit, counted in rounds of runningIntervalMs.
struct SetupWaits {
    DWORD companionRounds;      // 600
    DWORD companionIntervalMs;  // 500
    DWORD runningIntervalMs;    // 500
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
    kStopGivenPasswordWrong,    // 1639: the password given on the command line is wrong
    kStopGivenPasswordRefused,  // 1639: ... or cannot be used (its file is refused, say)
};
DWORD SetupStopExitCode(SetupStop why);

// Setup's own switches: blank-separated words of the command line (null: none), each with a
// slash or a dash, in any letter case. Every word but the password switches (TakePwdSwitches)
// reaches the installer unchanged.
struct SetupSwitches {
    bool unattended;  // S or quiet: nobody is at the desktop, so no window may wait for an answer
    bool help;        // ?, h or help: the switches are shown and nothing is installed
};
SetupSwitches ReadSwitches(const char* commandLine);
bool IsUnattended(const char* commandLine);  // ReadSwitches(commandLine).unattended

const size_t kCommandLineMax = 32768;  // the longest command line Windows starts a program with
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

// ---- The uninstall password given on the command line -----------------------------------------
// /pwdfile=PATH and /password=TEXT (slash or dash, any letter case, the value quoted or not, as
// the C runtime reads a command line). Never passed on, never logged.

const int kPwdMaxChars = 32;  // as many characters as the dialog takes
struct PwdGiven {
    int count;            // password switches given (0: none; more than 1 is refused)
    bool fromFile;        // the last one was /pwdfile
    bool cut;             // its value did not fit value
    char value[MAX_PATH];  // the file's path or the password itself
};
// Copies commandLine (null: none) into handedOn (size bytes) without the password switches: the
// other words keep their order, quoting and the blanks before them. *given gets what was given.
// false when the rest does not fit handedOn (then handedOn is "").
bool TakePwdSwitches(const char* commandLine, char* handedOn, size_t size, PwdGiven* given);
// Wipes the password switches in the process's own copies of its command line (the one
// GetCommandLineA/W return and the C runtime's arguments) and the value in *given.
void WipePwdSwitches(PwdGiven* given);

// How a given password was judged; the log says why (never the password or its stored form).
enum PwdVerdict { kPwdNoneGiven, kPwdRight, kPwdWrong, kPwdRefused };
// Reads the given password (from its file, see ReadPwdFile), enciphers it and compares it with
// stored as the dialog does. Logs the outcome; wipes every copy of the password it made.
PwdVerdict CheckGivenPassword(PwdGiven* given, const char* stored);

// Why a password (its file, or the switch) cannot be used.
enum PwdRefusal {
    kPwdUsable,
    kPwdFileMissing,       // nothing at the path
    kPwdFileUnopened,      // it cannot be opened (another system error)
    kPwdFileLink,          // a link, or a path through one: not where its name says
    kPwdFileManyNames,     // a file with a second name (a hard link)
    kPwdFileNotFile,       // a folder or a device
    kPwdFileNoSecurity,    // its owner and DACL cannot be read
    kPwdFileUserOwned,     // it belongs to somebody other than SYSTEM, Administrators or the setup's user
    kPwdFileNoDacl,        // no DACL: everybody may change it
    kPwdFileUserWritable,  // somebody else may change it
    kPwdFileUnread,        // reading it failed
    kPwdEmpty,             // the first line is empty
    kPwdTooLong,           // more than 32 characters
    kPwdNotText,           // a NUL byte or a byte-order mark: not in the system's code page
    kPwdGivenTwice,        // more than one password switch
};
// The reason as the log says it ("it is a link, or its path goes through one").
const char* PwdRefusalText(PwdRefusal why);
// Reads the password from the first line of the file at path, opened once, not through a link,
// shared for reading only: the file is judged by the handle it is read through. password
// (kPwdMaxChars * 2 + 1 bytes) gets the line without its CR/LF; *n its length in bytes.
// *systemError gets the error of a failed open or read.
PwdRefusal ReadPwdFile(const char* path, char* password, int* n, DWORD* systemError);

// Pure rules beneath ReadPwdFile and the switch, tested with tables.
// The first line of bytes (n of them): its length in bytes in *lineBytes, judged by its
// characters (isLead tells the code page's lead bytes). A line with no end within n bytes is
// the whole.
PwdRefusal PwdFirstLine(const char* bytes, int n, bool (*isLead)(unsigned char), int* lineBytes);
// A password of n bytes: not empty, at most kPwdMaxChars characters.
PwdRefusal PwdTextRule(const char* text, int n, bool (*isLead)(unsigned char));
bool PwdIsLeadByte(unsigned char c);  // a lead byte of the system's ANSI code page
// What is known of one ACE of the file's DACL.
enum PwdPrincipal { kPwdTrusted, kPwdOwnerRights, kPwdOther };  // SYSTEM, Administrators,
                                                                // TrustedInstaller, the setup's own user
struct PwdAceFact {
    bool allows;       // an allowing ACE (deny ACEs only take away and are passed over)
    bool inheritOnly;  // for the children of a folder, not for the object itself
    DWORD mask;
    PwdPrincipal who;
};
// kPwdUsable, kPwdFileUserOwned, kPwdFileNoDacl or kPwdFileUserWritable.
PwdRefusal PwdFileSecurityRule(bool ownerTrusted, bool hasDacl, const PwdAceFact* aces, int count);
