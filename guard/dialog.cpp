// The uninstall-password dialog: three tries to type the password that protects the installed
// client. The decisions live in plain functions; the dialog procedure only routes messages.
#include <windows.h>
#include <string.h>

#include "base/text.h"
#include "guard/guard.h"
#include "log/log.h"

int g_nWrongPwdCount = 0;
int g_bExit = 0;
char g_szUninstallPass[128];

namespace {

const int kEditId = 1001;
const int kPromptId = -1;
const int kRetryId = 1002;
const int kMaxPasswordChars = 32;
const int kMaxTries = 3;

bool Chinese() { return IsChineseSystem(); }

void Finish(HWND dialog, INT_PTR result)
{
    EndDialog(dialog, result);
    PostQuitMessage(0);
}

void OnInit(HWND dialog)
{
    bool zh = Chinese();
    SetDlgItemTextA(dialog, kPromptId, PwdDialogText(kPwdTxtPrompt, zh));
    SetDlgItemTextA(dialog, IDOK, PwdDialogText(kPwdTxtOk, zh));
    SetDlgItemTextA(dialog, IDCANCEL, PwdDialogText(kPwdTxtCancel, zh));
    SetWindowTextA(dialog, PwdDialogText(kPwdTxtCaption, zh));
    ShowWindow(GetDlgItem(dialog, kRetryId), SW_HIDE);
    SendMessageA(GetDlgItem(dialog, kEditId), EM_LIMITTEXT, kMaxPasswordChars, 0);
    SetFocus(GetDlgItem(dialog, kEditId));
}

void OnOk(HWND dialog)
{
    char typed[kMaxPasswordChars + 1];
    HWND edit = GetDlgItem(dialog, kEditId);
    int n = GetWindowTextLengthA(edit);
    if (n > kMaxPasswordChars) n = kMaxPasswordChars;  // the edit control's own limit
    typed[0] = '\0';
    GetWindowTextA(edit, typed, n + 1);
    n = (int)strlen(typed);

    PwdOutcome outcome = PwdCheckEntry(typed, n, g_szUninstallPass, &g_nWrongPwdCount);
    SecureZeroMemory(typed, sizeof typed);
    if (outcome == kPwdAccepted) {
        g_bExit = 1;
        WriteSetupLog("g_bExit = TRUE;");
        Finish(dialog, 1);
        return;
    }
    if (outcome == kPwdFinal) {
        bool zh = Chinese();
        MessageBoxA(dialog, PwdDialogText(kPwdTxtFinalText, zh), PwdDialogText(kPwdTxtFinalCaption, zh),
                    MB_OK | MB_ICONWARNING);
        Finish(dialog, 1);
        return;
    }
    ShowWindow(GetDlgItem(dialog, kRetryId), SW_SHOWNORMAL);
    SetDlgItemTextA(dialog, kPromptId, "");
    SetDlgItemTextA(dialog, kRetryId, PwdDialogText(kPwdTxtRetry, Chinese()));
    SetWindowTextA(edit, "");
    SetFocus(edit);
}

}  // namespace

PwdOutcome PwdCheckEntry(const char* typed, int n, const char* stored, int* wrongCount)
{
    if (utl_PwdMatches(typed, n, stored)) return kPwdAccepted;
    ++*wrongCount;
    return *wrongCount >= kMaxTries ? kPwdFinal : kPwdRetry;
}

bool PwdTriesUsedUp() { return g_nWrongPwdCount >= kMaxTries; }

INT_PTR CALLBACK ChkPwdDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInit(dialog);
        return 1;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            OnOk(dialog);
            return 0;
        case IDCANCEL:
            Finish(dialog, 2);
            return 1;
        default:
            return 0;
        }
    case WM_CLOSE:
        Finish(dialog, LOWORD(wParam));
        return 1;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return 0;
    }
}
