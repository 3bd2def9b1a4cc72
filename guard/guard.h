// Upgrade password guard: the uninstall-password lookup and registry layer, the password
// dialog, and the DES/Base64 cipher of the stored password.
#pragma once
#include <windows.h>

// ---- Password cipher --------------------------------------------------------------------------
// The stored password is the Base64 text of the password bytes enciphered with single DES in
// ECB mode (PKCS#5 padding) under the client's fixed key. DES and Base64 live in cipher.h.
#include "guard/cipher.h"

// PwdResult, the result codes of both, is the core's (core/password.h).
#include "core/password.h"

// Enciphers count password bytes (system code page, no terminator) into the NUL-terminated
// stored text. The buffer must hold more than 4 * (P / 3) + 4 bytes, P = (count & ~7) + 8; on
// any non-zero result nothing has been written to text. Deterministic: one password, one text.
int utl_EncryptPwd(char* text, int textSize, const char* password, int count);
// Deciphers a stored text into out. *count is the capacity of out on entry and the number of
// bytes written on success (no terminator is added). On failure out and *count are unchanged.
int utl_DecryptPwd(char* out, int* count, const char* text);
// 1 when count password bytes encipher to stored (a NUL-terminated text, at most 128 characters
// compared, as the dialog compares): the texts are compared in time that does not depend on where
// they differ, and the enciphered text is wiped before the return. 0 otherwise.
int utl_PwdMatches(const char* password, int count, const char* stored);

// ---- Registry layer and text checks -----------------------------------------------------------
// Keys are opened without a view flag: a 32-bit program on 64-bit Windows sees the 32-bit view,
// where the 32-bit client writes. A null subkey is refused.

// 1 with *value read (values shorter than 4 bytes are zero-extended, the type is not checked);
// 0 with *value untouched when the key or value is missing or longer than 4 bytes.
int utl_RegReadDword(HKEY root, const char* subkey, const char* name, DWORD* value);
// 1 with the value's text (up to its first NUL) and a terminator in out; 0 with out untouched when
// the key or value is missing, the value is longer than 260 bytes or its text does not fit size.
int utl_RegReadString(HKEY root, const char* subkey, const char* name, char* out, DWORD size);
// Create the subkey if needed and set a REG_DWORD / REG_SZ (terminator stored). 1 when written.
int utl_RegWriteDword(HKEY root, const char* subkey, const char* name, DWORD value);
int utl_RegWriteString(HKEY root, const char* subkey, const char* name, const char* text);
// 1 when the value was deleted.
int utl_RegDeleteValue(HKEY root, const char* subkey, const char* name);

// Text checks (pure code).
#include "core/names.h"

// ---- Uninstall-password lookup ----------------------------------------------------------------

// Whether the setup must ask for the uninstall password of the installed client. Reads the
// protection flag and the stored password (into password, at least 128 bytes) from the first
// valid source: the VemloCustom pair, the VemloUninstallInfo pair (each restored from
// %SystemRoot%\system32 when it does not verify), else the registry. 1 when the flag is set and
// an uninstall entry of the client exists. Lines go to module's detail log.
int IsUninstallPrompt(const char* module, char* password);
// The same for the companion product (SOFTWARE\Vemlo\WBQ, WBQUninstall.ini in its folder).
int IsWBQUninstallPrompt(const char* module, char* password);

// ---- Password dialog --------------------------------------------------------------------------

extern int g_nWrongPwdCount;  // wrong passwords entered so far in this run; never reset
extern int g_bExit;           // set by the dialog on the right password
extern char g_szUninstallPass[128];  // the stored password the dialog compares with; the setup
                                     // fills it through IsUninstallPrompt before it shows the dialog

enum PwdText { kPwdTxtCaption, kPwdTxtPrompt, kPwdTxtOk, kPwdTxtCancel, kPwdTxtRetry, kPwdTxtFinalCaption, kPwdTxtFinalText };
const char* PwdDialogText(PwdText which, bool chinese);

enum PwdOutcome { kPwdAccepted, kPwdRetry, kPwdFinal };
// Enciphers the n typed bytes and compares the text with the stored one (exactly). A wrong
// entry counts in *wrongCount; the third one is final.
PwdOutcome PwdCheckEntry(const char* typed, int n, const char* stored, int* wrongCount);
// true once the last try was used up with a wrong password (not when the dialog was cancelled).
bool PwdTriesUsedUp();

// Dialog procedure of dialog 134; posts the quit message whenever the dialog ends and sets
// g_bExit on the right password.
INT_PTR CALLBACK ChkPwdDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
