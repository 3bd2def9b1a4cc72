// The stored password: Base64 of the password bytes under single DES-ECB with the client's fixed
// key, and its inverse. The prepared key is kept for the life of the process.
#include "guard/guard.h"

#include <string.h>

#include "log/handles.h"

namespace {

// The client's password key, used directly as the 64-bit DES key.
const unsigned char kPasswordKey[8] = {'k', 'o', 'p', 'r', 'a', '5', '2', '7'};

DesContext g_pwdContext;
bool g_pwdContextReady = false;

bool PrepareContext()
{
    if (g_pwdContextReady) return true;
    if (DesSetKey(kPasswordKey, &g_pwdContext) != 0) return false;
    g_pwdContextReady = true;
    return true;
}

void* Alloc(size_t n) { return HeapAlloc(GetProcessHeap(), 0, n ? n : 1); }

}  // namespace

int utl_EncryptPwd(char* text, int textSize, const char* password, int count)
{
    if (!PrepareContext()) return PWD_NO_CONTEXT;
    if (count < 0 || count > 0x7FFFFF00 || (count > 0 && !password)) return PWD_CIPHER_FAILED;
    long long padded = (long long)(count & ~7) + 8;
    // The text has 4 * ceil(P / 3) characters and its NUL.
    if (!text || 4 * (padded / 3) + 4 >= (long long)textSize) return PWD_TEXT_TOO_SMALL;

    HeapBlock cipher(Alloc((size_t)padded));
    if (!cipher.Valid()) return PWD_NO_MEMORY;
    unsigned char* bytes = static_cast<unsigned char*>(cipher.Get());
    int got = DesEcbEncrypt(reinterpret_cast<const unsigned char*>(password), count, bytes, (int)padded,
                            &g_pwdContext);
    if (got <= 0) return PWD_CIPHER_FAILED;
    if (Base64Encode(bytes, text, got) != 0) return PWD_BAD_TEXT;
    return PWD_OK;
}

int utl_DecryptPwd(char* out, int* count, const char* text)
{
    if (!PrepareContext()) return PWD_NO_CONTEXT;
    size_t length = text ? strlen(text) : 0;
    if (length == 0) return PWD_NO_MEMORY;
    if (!out || !count || *count < 0 || length > 0x7FFFFF00) return PWD_BAD_DATA;

    // Base64 never yields more bytes than it has characters (its NUL included, for 4 and up).
    HeapBlock decoded(Alloc(length));
    if (!decoded.Valid()) return PWD_NO_MEMORY;
    unsigned char* cipher = static_cast<unsigned char*>(decoded.Get());
    int m = 0;
    if (Base64Decode(text, cipher, &m) != 0) return PWD_BAD_TEXT;

    int capacity = *count;
    if ((long long)(capacity & ~7) + 8 < m) return PWD_BAD_DATA;
    HeapBlock plain(Alloc((size_t)capacity + 8));
    if (!plain.Valid()) return PWD_NO_MEMORY;
    int k = DesEcbDecrypt(cipher, m, static_cast<unsigned char*>(plain.Get()), capacity, &g_pwdContext);
    if (k < 0 || k > capacity) return PWD_BAD_DATA;
    memcpy(out, plain.Get(), (size_t)k);
    *count = k;
    return PWD_OK;
}
