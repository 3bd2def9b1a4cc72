// The size of a file, for callers that want a failed query in the log: the one file-system
// helper that writes a line, so it lives above base/ beside the writers.
#include <windows.h>

#include "base/files.h"
#include "base/text.h"
#include "log/log.h"

int utl_GetFileSize(const char* path, DWORD* sizeHigh, DWORD* sizeLow)
{
    if (!sizeHigh || !sizeLow || !utl_FileExists(path)) return 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        DWORD err = GetLastError();
        char line[128];
        utl_Format(line, sizeof line, "utl_GetFileSize: GetFileAttributesEx failed with err.%u.", err);
        utl_WriteLog("UtlFile", line, 0);
        return 0;
    }
    *sizeHigh = data.nFileSizeHigh;
    *sizeLow = data.nFileSizeLow;
    return 1;
}
