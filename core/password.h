// The stored password's cipher: Base64 of the password bytes under single DES-ECB (PKCS#5
// padding) with the client's fixed key. The library keeps the prepared key and the memory;
// these are the steps between.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/des.h"

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

// The client's password key, used directly as the 64-bit DES key.
extern const uint8_t kStoredPwdKey[8];

// Enciphers count password bytes into cipher (padded = (count & ~7) + 8 bytes), then writes
// their Base64 text into text, which must hold 4 * ceil(padded / 3) + 1 bytes.
// PWD_OK, or PWD_CIPHER_FAILED / PWD_BAD_TEXT.
int core_PwdEncipher(const DesContext* ctx, const uint8_t* password, int count, uint8_t* cipher, int padded,
                     char* text);
// First step back: decodes the stored text into cipher (at least strlen(text) bytes) and sets
// *m to the number of cipher bytes. PWD_BAD_TEXT for a text that is no Base64, PWD_BAD_DATA when
// m bytes cannot decipher into capacity bytes; PWD_OK otherwise.
int core_PwdDecode(const char* text, uint8_t* cipher, int capacity, int* m);
// Second step: deciphers the m cipher bytes into plain (capacity + 8 bytes) and strips the
// padding; *k is the password's length. PWD_BAD_DATA when that fails or exceeds capacity.
int core_PwdDecipher(const DesContext* ctx, const uint8_t* cipher, int m, uint8_t* plain, int capacity, int* k);
