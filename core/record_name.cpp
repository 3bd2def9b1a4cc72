// The record-name rule of the reader: a packed name may only ever name a file inside the
// destination folder. Pure: no file-system access, the caller tells the code page's lead bytes.
#include "core/record_name.h"

namespace {

int Upper(int c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

bool StartsWithCi(const uint8_t* s, uint32_t len, const char* word)
{
    uint32_t i = 0;
    for (; word[i]; ++i)
        if (i >= len || Upper(s[i]) != word[i]) return false;
    return true;
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9 (with superscript digits too), CONIN$, CONOUT$: the
// platform opens a device for them in any folder, with or without an extension.
bool IsDeviceName(const uint8_t* s, uint32_t len)
{
    uint32_t base = 0;
    while (base < len && s[base] != '.') ++base;
    while (base > 0 && s[base - 1] == ' ') --base;
    static const char* const kThree[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char* w : kThree)
        if (base == 3 && StartsWithCi(s, base, w)) return true;
    if (base == 4 && (StartsWithCi(s, base, "COM") || StartsWithCi(s, base, "LPT"))) {
        uint8_t d = s[3];
        if ((d >= '0' && d <= '9') || d == 0xB9 || d == 0xB2 || d == 0xB3) return true;
    }
    if ((base == 6 && StartsWithCi(s, base, "CONIN$")) || (base == 7 && StartsWithCi(s, base, "CONOUT$")))
        return true;
    return false;
}

bool IsForbiddenByte(uint8_t b)
{
    if (b < 0x20) return true;  // NUL and control characters
    switch (b) {
    case ':': case '<': case '>': case '"': case '|': case '?': case '*':
        return true;
    default:
        return false;
    }
}

// One path component from start to end. lastDotOrBlank: its last character is a single-byte
// '.' or ' ', which the platform strips ("..", "x." and ".. " all change meaning).
bool ComponentOk(const uint8_t* s, uint32_t start, uint32_t end, bool lastDotOrBlank)
{
    if (end == start) return false;  // leading, doubled or trailing separator
    if (lastDotOrBlank) return false;
    return !IsDeviceName(s + start, end - start);
}

}  // namespace

int core_IsSafeRecordName(const char* name, uint32_t len, int (*isLeadByte)(uint8_t))
{
    if (!name || len == 0) return 0;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(name);
    uint32_t start = 0;
    bool lastDotOrBlank = false;
    uint32_t i = 0;
    while (i < len) {
        uint8_t b = s[i];
        if (isLeadByte && b >= 0x80 && isLeadByte(b)) {
            // A double-byte character: its trail byte may be 0x5C and is then no separator.
            // Every double-byte code page has trail bytes from 0x40 up; a lower byte (or none)
            // after a lead byte is a broken character that converters may split differently,
            // so the name is refused rather than guessed at.
            if (i + 1 >= len || s[i + 1] < 0x40) return 0;
            lastDotOrBlank = false;
            i += 2;
            continue;
        }
        if (IsForbiddenByte(b)) return 0;
        if (b == '\\' || b == '/') {
            if (!ComponentOk(s, start, i, lastDotOrBlank)) return 0;
            start = i + 1;
            lastDotOrBlank = false;
        } else {
            lastDotOrBlank = (b == '.' || b == ' ');
        }
        ++i;
    }
    return ComponentOk(s, start, len, lastDotOrBlank) ? 1 : 0;
}
