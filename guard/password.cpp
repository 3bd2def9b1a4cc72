// The stored password: Base64 of the password bytes under single DES-ECB with the client's fixed
// key, and its inverse. The prepared key is kept for the life of the process.
#include "guard/guard.h"

#include <string.h>

#include "base/handles.h"

namespace {

DesContext g_pwdContext;
bool g_pwdContextReady = false;

bool PrepareContext()
{
    if (g_pwdContextReady) return true;
    if (DesSetKey(kStoredPwdKey, &g_pwdContext) != 0) return false;
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
    return core_PwdEncipher(&g_pwdContext, reinterpret_cast<const unsigned char*>(password), count, bytes,
                            (int)padded, text);
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
    int m = 0, capacity = *count;
    int rc = core_PwdDecode(text, cipher, capacity, &m);
    if (rc != PWD_OK) return rc;
    HeapBlock plain(Alloc((size_t)capacity + 8));
    if (!plain.Valid()) return PWD_NO_MEMORY;
    int k = 0;
    rc = core_PwdDecipher(&g_pwdContext, cipher, m, static_cast<unsigned char*>(plain.Get()), capacity, &k);
    if (rc != PWD_OK) return rc;
    memcpy(out, plain.Get(), (size_t)k);
    *count = k;
    return PWD_OK;
}

int utl_PwdMatches(const char* password, int count, const char* stored)
{
    // Both texts padded with NULs to the 128 characters compared: every byte is looked at, and
    // the difference is gathered, not acted on, so the time says nothing about where they differ.
    const int kCompared = 128;
    char mine[kCompared + 1], theirs[kCompared];
    ZeroMemory(mine, sizeof mine);
    ZeroMemory(theirs, sizeof theirs);
    int rc = utl_EncryptPwd(mine, kCompared, password, count);
    for (int i = 0; stored && i < kCompared && stored[i]; ++i) theirs[i] = stored[i];
    unsigned char differ = 0;
    for (int i = 0; i < kCompared; ++i) differ |= (unsigned char)(mine[i] ^ theirs[i]);
    SecureZeroMemory(mine, sizeof mine);
    SecureZeroMemory(theirs, sizeof theirs);
    return differ == 0 && rc == PWD_OK ? 1 : 0;  // a text that could not be made matches nothing
}
