// The stub's start-up: single instance, administrator, free space, updater, password gate, then
// the unpack-and-run sequence. Every road ends with exit code 0.
#include <windows.h>

#include "guard/guard.h"
#include "log/log.h"
#include "setup/setup.h"

namespace {

const char kInstanceEvent[] = "evnt_Vemlo_stpDamon";
const int kPasswordDialog = 134;

int Refuse(SetupMessage which)
{
    bool chinese = IsChineseSystem();
    MessageBoxA(NULL, SetupMessageText(which, chinese), SetupCaption(chinese), MB_OK | MB_ICONWARNING);
    return 0;
}

void CloseInstanceEvent()
{
    if (g_hInstanceEvent) {
        CloseHandle(g_hInstanceEvent);
        g_hInstanceEvent = NULL;
    }
}

// Shows the password dialog centred and topmost and pumps its messages until it posts the quit
// message. true when the right password was given.
bool AskForPassword(HINSTANCE instance)
{
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(kPasswordDialog), NULL, ChkPwdDlgProc, 0);
    if (!dialog) return false;  // no dialog, no password: the protected client stays as it is

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
    return g_bExit != 0;
}

}  // namespace

int SetupMain(HINSTANCE instance)
{
    g_hInstanceEvent = CreateEventA(NULL, FALSE, FALSE, kInstanceEvent);
    if (!g_hInstanceEvent) return 0;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseInstanceEvent();
        return Refuse(kMsgPreviousInstance);
    }

    if (!IsCurUserAdmin()) return Refuse(kMsgNoAdmin);

    int megabytes = 0;
    bool enough = IsFreeSpaceEnough(GetFreeDiskSpace("C:"), &megabytes);
    char line[96];
    utl_Format(line, sizeof line, "The C free space is %dM.", megabytes);
    WriteSetupLog(line);
    if (!enough) return Refuse(kMsgTooLittleSpace);

    if (chkProcExist("waitSetup", "RefreshCusCfg.exe") == kProcRunning ||
        chkProcExist("waitSetup", "RefreshCusCfg.e") == kProcRunning)
        return Refuse(kMsgUpdaterBusy);

    if (IsUninstallPrompt("setup", g_szUninstallPass)) {
        if (!AskForPassword(instance)) {
            CloseInstanceEvent();
            WriteSetupLog("Exit main");
            return 0;
        }
        WriteSetupLog("Begin UnpackAndSetup");
    }

    DWORD error = 0, installerExit = 0;
    if (!UnpackAndSetup(&error, NULL, &installerExit)) {
        utl_Format(line, sizeof line, "install failed with Err %u.", error);
        WriteSetupLog(line);
    }
    CloseInstanceEvent();
    WriteSetupLog("Exit main");
    return 0;
}
