// The size of a file, for callers that want a failed query in the log: the one file-system
// helper that writes a line, so it lives above base/ beside the writers.
#include <windows.h>

#include "base/files.h"
#include "log/log.h"

int utl_GetFileSize(const char* path, DWORD* sizeHigh, DWORD* sizeLow)
{
    if (!sizeHigh || !sizeLow || !utl_FileExists(path)) return 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        utl_LogLine("UtlFile", "utl_GetFileSize: ", "GetFileAttributesEx failed with err.%u.", GetLastError());
        return 0;
    }
    *sizeHigh = data.nFileSizeHigh;
    *sizeLow = data.nFileSizeLow;
    return 1;
}
