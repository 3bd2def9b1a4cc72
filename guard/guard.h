// Upgrade password guard: the uninstall-password lookup and registry layer, the password
// dialog, and the DES/Base64 cipher of the stored password.
#pragma once
#include <windows.h>

// ---- Password cipher --------------------------------------------------------------------------
// The stored password is the Base64 text of the password bytes enciphered with single DES in
// ECB mode (PKCS#5 padding) under the client's fixed key. DES and Base64 live in cipher.h.
#include "guard/cipher.h"

// Result codes of utl_EncryptPwd and utl_DecryptPwd.
enum PwdResult {
    PWD_OK = 0,
    PWD_NO_CONTEXT = 1,      // the password key could not be prepared
    PWD_TEXT_TOO_SMALL = 2,  // utl_EncryptPwd: the text buffer cannot hold the text
    PWD_CIPHER_FAILED = 3,   // utl_EncryptPwd: enciphering failed (also a negative count)
    PWD_NO_MEMORY = 4,       // out of memory, or an empty (or null) text to decipher
    PWD_BAD_TEXT = 5,        // the text is not valid Base64 (or the encoder failed)
    PWD_BAD_DATA = 6,        // the deciphered data does not fit the buffer or is malformed
};

// Enciphers count password bytes (system code page, no terminator) into the NUL-terminated
// stored text. The buffer must hold more than 4 * (P / 3) + 4 bytes, P = (count & ~7) + 8; on
// any non-zero result nothing has been written to text. Deterministic: one password, one text.
int utl_EncryptPwd(char* text, int textSize, const char* password, int count);
// Deciphers a stored text into out. *count is the capacity of out on entry and the number of
// bytes written on success (no terminator is added). On failure out and *count are unchanged.
int utl_DecryptPwd(char* out, int* count, const char* text);

// ---- Registry layer and text checks -----------------------------------------------------------

// ---- Uninstall-password lookup ----------------------------------------------------------------

// ---- Password dialog --------------------------------------------------------------------------
