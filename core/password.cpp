// The stored password's cipher: Base64 and DES-ECB in the order the stored text needs them.
#include "core/password.h"

#include "core/base64.h"

const uint8_t kStoredPwdKey[8] = {'k', 'o', 'p', 'r', 'a', '5', '2', '7'};

int core_PwdEncipher(const DesContext* ctx, const uint8_t* password, int count, uint8_t* cipher, int padded,
                     char* text)
{
    int got = DesEcbEncrypt(password, count, cipher, padded, ctx);
    if (got <= 0) return PWD_CIPHER_FAILED;
    if (Base64Encode(cipher, text, got) != 0) return PWD_BAD_TEXT;
    return PWD_OK;
}

int core_PwdDecode(const char* text, uint8_t* cipher, int capacity, int* m)
{
    if (Base64Decode(text, cipher, m) != 0) return PWD_BAD_TEXT;
    // Single DES deciphers at most one block more than the room for the plaintext.
    if ((long long)(capacity & ~7) + 8 < *m) return PWD_BAD_DATA;
    return PWD_OK;
}

int core_PwdDecipher(const DesContext* ctx, const uint8_t* cipher, int m, uint8_t* plain, int capacity, int* k)
{
    int got = DesEcbDecrypt(cipher, m, plain, capacity, ctx);
    if (got < 0 || got > capacity) return PWD_BAD_DATA;
    *k = got;
    return PWD_OK;
}
