// Hex dumps for the detail log, and the switches of VemloMngCenter.ini beside the executable.
#include <string.h>

#include "base/files.h"
#include "base/handles.h"
#include "base/text.h"
#include "core/hex_dump.h"
#include "log/log.h"

namespace {

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
    // A text that cannot take the next row keeps the rows so far; the dump is cut there.
    if (!core_HexDump(static_cast<const uint8_t*>(data), length, text, textSize))
        utl_WriteLog(tag, "bytes2String got an exception.", 0);
    return 1;
}

int utl_LogBytes(const char* tag, const void* data, DWORD length, int isDetail)
{
    if ((isDetail && !g_bLogDetail) || !tag || !data) return 0;
    unsigned long long rows = ((unsigned long long)length + kHexRowBytes - 1) / kHexRowBytes;
    unsigned long long size = 2 + rows * kHexFullRow + 1;
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
