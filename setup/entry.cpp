// The stub's start-up: single instance, administrator, free space, updater, password gate, then
// the unpack-and-run sequence. The exit code is how a deployment tool learns what happened.
#include <windows.h>

#include "base/text.h"
#include "guard/guard.h"
#include "log/log.h"
#include "setup/setup.h"

namespace {

const int kPasswordDialog = 134;
const DWORD kElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED, which MinGW's headers lack
// ERROR_INVALID_COMMAND_LINE: the password on the command line is wrong or cannot be used.
const DWORD kBadPasswordSwitch = 1639;

struct StopRule {
    DWORD exitCode;
    const char* line;
};

// In the order of SetupStop. 1618 asks a deployment tool to try again later; the others are final.
const StopRule kStops[] = {
    {ERROR_INSTALL_ALREADY_RUNNING, "Setup stopped: another setup is running."},
    {kElevationRequired, "Setup stopped: not an administrator."},
    {ERROR_DISK_FULL, "Setup stopped: less than 50M free on C:."},
    {ERROR_INSTALL_ALREADY_RUNNING, "Setup stopped: the customisation updater is running."},
    {ERROR_INSTALL_USEREXIT, "Setup stopped: the password dialog was cancelled."},
    {ERROR_INSTALL_PACKAGE_REJECTED, "Setup stopped: three wrong passwords."},
    {ERROR_INSTALL_PACKAGE_REJECTED, "Setup stopped: the uninstall password is needed but cannot be asked."},
    {ERROR_INSTALL_FAILURE, "Setup stopped: the instance event could not be made."},
    {kBadPasswordSwitch, "Setup stopped: the given uninstall password is wrong."},
    {kBadPasswordSwitch, "Setup stopped: the given uninstall password could not be used."},
};

// Logged before any box, so the reason is in the log even while the box waits for its OK.
DWORD Stop(SetupStop why)
{
    WriteSetupLog(kStops[why].line);
    return kStops[why].exitCode;
}

DWORD Refuse(SetupMessage which, SetupStop why, bool unattended)
{
    DWORD code = Stop(why);
    if (!unattended) {
        bool chinese = IsChineseSystem();
        MessageBoxA(NULL, SetupMessageText(which, chinese), SetupCaption(chinese), MB_OK | MB_ICONWARNING);
    }
    return code;
}

// The switches and exit codes in a box (none when unattended); nothing is unpacked or started.
DWORD ShowHelp(bool unattended)
{
    WriteSetupLog("Setup stopped: help was asked for, nothing was installed.");
    if (!unattended) {
        bool chinese = IsChineseSystem();
        MessageBoxA(NULL, SetupHelpText(chinese), SetupCaption(chinese), MB_OK | MB_ICONINFORMATION);
    }
    return ERROR_SUCCESS;
}

// Shows the password dialog centred and topmost and pumps its messages until it posts the quit
// message. true when the right password was given; else *why says how the dialog ended.
bool AskForPassword(HINSTANCE instance, SetupStop* why)
{
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(kPasswordDialog), NULL, ChkPwdDlgProc, 0);
    if (!dialog) {  // no dialog, no password: the protected client stays as it is
        *why = kStopPasswordUnasked;
        return false;
    }

    RECT desktop, own;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(dialog, &own);
    int x = ((desktop.right - desktop.left) - (own.right - own.left)) / 2;
    int y = ((desktop.bottom - desktop.top) - (own.bottom - own.top)) / 2;
    SetWindowPos(dialog, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE | SWP_HIDEWINDOW);
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);

    MSG msg;
    for (;;) {
        BOOL got = GetMessageA(&msg, NULL, 0, 0);
        if (got == 0) break;
        if (got == -1) {
            WriteSetupLog(" handle the error and possibly exit");
            // A message queue that keeps failing would spin here for ever; the dialog's window
            // going away ends the wait as surely as the quit message.
            if (!IsWindow(dialog)) break;
            continue;
        }
        if (!IsDialogMessageA(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    DestroyWindow(dialog);
    *why = PwdTriesUsedUp() ? kStopWrongPasswords : kStopCancelled;
    return g_bExit != 0;
}

// Everything but the closing lines; returns the exit code.
DWORD RunSetup(HINSTANCE instance, const char* commandLine, PwdGiven* password)
{
    SetupSwitches switches = ReadSwitches(commandLine);
    // Before the instance event and every check: help changes nothing, so it also answers while
    // another setup runs.
    if (switches.help) return ShowHelp(switches.unattended);
    bool unattended = switches.unattended;
    InstanceVerdict guard = ClaimSetupInstance();
    if (guard == kInstanceNoGuard) return Stop(kStopNoInstanceEvent);
    if (guard == kInstanceAnotherSetup) return Refuse(kMsgPreviousInstance, kStopPreviousInstance, unattended);

    if (!IsCurUserAdmin()) return Refuse(kMsgNoAdmin, kStopNoAdmin, unattended);

    int megabytes = 0;
    bool enough = IsFreeSpaceEnough(GetFreeDiskSpace("C:"), &megabytes);
    char line[96];
    utl_Format(line, sizeof line, "The C free space is %dM.", megabytes);
    WriteSetupLog(line);
    if (!enough) return Refuse(kMsgTooLittleSpace, kStopTooLittleSpace, unattended);

    if (UpdaterRunning("waitSetup") == kProcRunning) return Refuse(kMsgUpdaterBusy, kStopUpdaterBusy, unattended);

    if (IsUninstallPrompt("setup", g_szUninstallPass)) {
        // A protected client is upgraded with its password or not at all: the one given on the
        // command line, else the one typed; without anybody to type it, the run stops.
        PwdVerdict given = CheckGivenPassword(password, g_szUninstallPass);
        if (given != kPwdRight && unattended)
            return Stop(given == kPwdNoneGiven ? kStopPasswordUnasked
                        : given == kPwdWrong   ? kStopGivenPasswordWrong
                                               : kStopGivenPasswordRefused);
        SetupStop why;
        if (given != kPwdRight && !AskForPassword(instance, &why)) return Stop(why);
        WriteSetupLog("Begin UnpackAndSetup");
    } else if (password->count) {
        WriteSetupLog("The client is not protected: the given password is not used.");
    }

    DWORD error = 0, installerExit = 0;
    if (!UnpackAndSetup(&error, commandLine, &installerExit)) {
        utl_Format(line, sizeof line, "install failed with Err %u.", error);
        WriteSetupLog(line);
        return error != 0 ? error : ERROR_INSTALL_FAILURE;  // a failure never reads as success
    }
    return installerExit;
}

}  // namespace

DWORD SetupStopExitCode(SetupStop why) { return kStops[why].exitCode; }

int SetupMain(HINSTANCE instance, const char* commandLine)
{
    // The password switches go no further than here: the rest is what the installer gets.
    char handedOn[kCommandLineMax];  // on the stack: a static one would be 32 KB of the file
    PwdGiven password;
    TakePwdSwitches(commandLine, handedOn, sizeof handedOn, &password);
    DWORD code = RunSetup(instance, handedOn, &password);
    WipePwdSwitches(&password);
    ReleaseSetupInstance();
    char line[48];
    utl_Format(line, sizeof line, "Setup exit code %u.", code);
    WriteSetupLog(line);
    WriteSetupLog("Exit main");
    return (int)code;
}
