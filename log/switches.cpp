// Hex dumps for the detail log, and the switches of VemloMngCenter.ini beside the executable.
#include <string.h>

#include "base/files.h"
#include "base/handles.h"
#include "base/text.h"
#include "log/log.h"

namespace {

const DWORD kRowBytes = 16;
const DWORD kFullRow = 81;  // 12 label + 48 hex + 3 separator + 16 text + 2 line end

// Formats row number `row` of up to 16 bytes into out (at least kFullRow + 1 bytes).
DWORD FormatRow(DWORD row, const unsigned char* bytes, DWORD count, char* out)
{
    static const char kDigits[] = "0123456789ABCDEF";
    DWORD n = (DWORD)utl_Format(out, 16, "%08Xh:  ", row);
    for (DWORD i = 0; i < kRowBytes; ++i) {
        if (i < count) {
            out[n++] = kDigits[bytes[i] >> 4];
            out[n++] = kDigits[bytes[i] & 15];
        } else {
            out[n++] = ' ';  // keeps the semicolons of a short last row in line
            out[n++] = ' ';
        }
        out[n++] = ' ';
    }
    out[n++] = ';';
    out[n++] = ' ';
    out[n++] = ' ';
    for (DWORD i = 0; i < count; ++i) out[n++] = (bytes[i] >= 0x20 && bytes[i] <= 0x7E) ? (char)bytes[i] : '.';
    out[n++] = '\r';
    out[n++] = '\n';
    out[n] = '\0';
    return n;
}

// Reads key of section "config" of VemloMngCenter.ini in the run directory; 0 when the run
// directory or the file cannot be found.
int ReadSwitch(const char* key)
{
    char path[MAX_PATH];
    if (!getCurRunPath(path, sizeof path, 1)) return 0;
    if (!utl_Append(path, sizeof path, "VemloMngCenter.ini")) return 0;
    if (!utl_FileExists(path)) return 0;
    return (int)GetPrivateProfileIntA("config", key, 0, path);
}

}  // namespace

int bytes2String(const char* tag, const void* data, DWORD length, char* text, DWORD textSize)
{
    if (!tag || !data || !text) return 0;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    size_t have = textSize ? strnlen(text, textSize) : 0;
    char row[kFullRow + 1];
    for (DWORD start = 0; start < length; start += kRowBytes) {
        DWORD count = length - start < kRowBytes ? length - start : kRowBytes;
        DWORD n = FormatRow(start / kRowBytes, bytes + start, count, row);
        // A text that cannot take the next row keeps the rows so far; the dump is cut there.
        if (have >= textSize || n >= textSize - have) {
            utl_WriteLog(tag, "bytes2String got an exception.", 0);
            return 1;
        }
        memcpy(text + have, row, (size_t)n + 1);
        have += n;
    }
    return 1;
}

int utl_LogBytes(const char* tag, const void* data, DWORD length, int isDetail)
{
    if ((isDetail && !g_bLogDetail) || !tag || !data) return 0;
    unsigned long long rows = ((unsigned long long)length + kRowBytes - 1) / kRowBytes;
    unsigned long long size = 2 + rows * kFullRow + 1;
    if (size > 0x7FFFFFFFull) return 0;
    HeapBlock entry(HeapAlloc(GetProcessHeap(), 0, (SIZE_T)size));
    if (!entry.Valid()) return 0;
    char* text = static_cast<char*>(entry.Get());
    memcpy(text, "\r\n", 3);  // the dump starts on a line of its own below the line header
    bytes2String(tag, data, length, text, (DWORD)size);
    utl_WriteLog(tag, text, 0);  // an ordinary line, even for a dump asked for as detail
    return 1;
}

void utl_LoadLogDetail() { g_bLogDetail = ReadSwitch("LogDetail"); }

int utl_GetLogDetail() { return ReadSwitch("LogDetail"); }

int utl_GetUpdEnable() { return ReadSwitch("bUpdEnabe"); }
