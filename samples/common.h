// Shared by the two sample programs of the demo payload: a time-stamped note beside the program.
#pragma once
#include <windows.h>

// Appends "<what> <100-ns system time>\r\n" to the file name in the program's own folder.
inline void SampleNote(const char* fileName, const char* what)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    char* slash = path + n;
    while (slash > path && *slash != '\\') --slash;
    if ((size_t)(slash - path) + 1 + lstrlenA(fileName) >= MAX_PATH) return;
    lstrcpyA(slash + 1, fileName);
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    char line[128];
    wsprintfA(line, "%s %08lx%08lx\r\n", what, ft.dwHighDateTime, ft.dwLowDateTime);
    HANDLE f = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD done;
    WriteFile(f, line, lstrlenA(line), &done, NULL);
    CloseHandle(f);
}

// Milliseconds to keep running, from the environment (the tests set it), else the default.
inline DWORD SampleDuration(const char* variable, DWORD fallback)
{
    char value[32];
    DWORD n = GetEnvironmentVariableA(variable, value, sizeof value);
    if (n == 0 || n >= sizeof value) return fallback;
    DWORD ms = 0;
    for (const char* p = value; *p >= '0' && *p <= '9'; ++p) ms = ms * 10 + (DWORD)(*p - '0');
    return ms;
}
