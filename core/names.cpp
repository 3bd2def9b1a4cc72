// Text checks of the library: forbidden characters of names and the colon-hexadecimal IPv6 form.
#include "core/names.h"

#include <cstddef>

namespace {

int HasNone(const char* text, const char* forbidden)
{
    for (const char* p = text; *p; ++p)
        for (const char* f = forbidden; *f; ++f)
            if (*p == *f) return 0;
    return 1;
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

}  // namespace

int utl_IsValidFileName(const char* text)
{
    if (!text) return 0;
    return HasNone(text, "\\/:*?\"<>|\t");
}

int utl_IsValidNameNoApostrophe(const char* text)
{
    if (!text) return 0;
    return HasNone(text, "\\/:*?\"'<>|");
}

int utl_IsIpv6Text(const char* text)
{
    if (!text) return 0;
    size_t len = 0;
    while (len < 40 && text[len]) ++len;
    if (len < 1 || len > 39) return 0;

    int digits = 0, singles = 0, doubles = 0;
    bool anyColon = false;
    for (size_t i = 0; i < len; ++i) {
        char c = text[i];
        if (IsHexDigit(c)) {
            if (++digits > 4) return 0;
            continue;
        }
        if (c != ':') return 0;
        anyColon = true;
        if (text[i + 1] == ':') {  // "::" stands for one run of zero groups
            ++doubles;
            ++i;
        } else {
            // A single colon separates two groups: a digit must precede it, and it cannot end
            // the text.
            if (digits == 0 || i + 1 == len) return 0;
            ++singles;
        }
        digits = 0;
    }
    if (!anyColon) return 0;
    if (doubles == 0) return singles == 7 ? 1 : 0;
    if (doubles == 1) return singles <= 5 ? 1 : 0;
    return 0;
}
