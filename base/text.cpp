// Bounded text helpers: path joining and formatting that never write past their buffer, the
// last backslash of a path in the system code page, and the language of the texts.
#include "base/text.h"

#include <stdarg.h>
#include <string.h>

namespace {

const LANGID kChinesePrc = 2052;

}  // namespace

int utl_JoinPath(char* out, unsigned size, const char* dir, const char* name)
{
    if (!out || !dir || !name) return 0;
    size_t d = strlen(dir), n = strlen(name);
    if (d + 1 + n >= size) return 0;
    memcpy(out, dir, d);
    out[d] = '\\';
    memcpy(out + d + 1, name, n + 1);
    return 1;
}

int utl_Format(char* out, unsigned size, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = utl_FormatV(out, size, fmt, ap);
    va_end(ap);
    return n;
}

int utl_FormatV(char* out, unsigned size, const char* fmt, va_list args)
{
    if (!out || size == 0) return 0;
    // wvsprintfA writes at most 1024 characters plus the NUL; format into a buffer of that
    // size and copy what fits, so a short caller buffer is never overrun.
    char tmp[1025];
    int n = wvsprintfA(tmp, fmt, args);
    if (n < 0) n = 0;
    if (n > 1024) n = 1024;
    if ((unsigned)n >= size) n = (int)size - 1;
    memcpy(out, tmp, (size_t)n);
    out[n] = '\0';
    return n;
}

int utl_Append(char* out, unsigned size, const char* src)
{
    if (!out || size == 0 || !src) return 0;
    size_t have = strnlen(out, size);
    if (have >= size) { out[size - 1] = '\0'; return 0; }
    size_t room = size - 1 - have, n = strlen(src);
    size_t take = n < room ? n : room;
    memcpy(out + have, src, take);
    out[have + take] = '\0';
    return take == n ? 1 : 0;
}

const char* utl_FindLastBackslash(const char* path)
{
    if (!path) return NULL;
    const char* last = NULL;
    for (const char* p = path; *p; p = CharNextA(p))
        if (*p == '\\') last = p;
    return last;
}

char* utl_CutAtLastBackslash(char* text, int keep)
{
    if (!text || !*text) return NULL;
    char* last = const_cast<char*>(utl_FindLastBackslash(text));
    if (!last) return NULL;
    last[keep ? 1 : 0] = '\0';
    return text;
}

bool IsChineseSystem() { return LOWORD(GetSystemDefaultLangID()) == kChinesePrc; }
