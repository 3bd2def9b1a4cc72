// Shared by the two sample programs of the demo payload: notes beside the program, settings from
// the environment.
#pragma once
#include <windows.h>

// Appends text and "\r\n" to the file name in the program's own folder.
inline void SampleLine(const char* fileName, const char* text)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    char* slash = path + n;
    while (slash > path && *slash != '\\') --slash;
    if ((size_t)(slash - path) + 1 + lstrlenA(fileName) >= MAX_PATH) return;
    lstrcpyA(slash + 1, fileName);
    HANDLE f = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD done;
    WriteFile(f, text, lstrlenA(text), &done, NULL);
    WriteFile(f, "\r\n", 2, &done, NULL);
    CloseHandle(f);
}

// Appends "<what> <100-ns system time>" to the file name in the program's own folder.
inline void SampleNote(const char* fileName, const char* what)
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    char line[128];
    wsprintfA(line, "%s %08lx%08lx", what, ft.dwHighDateTime, ft.dwLowDateTime);
    SampleLine(fileName, line);
}

// Records how the program was started: "folder <current folder>" and "args <command line>".
inline void SampleRecordStart(const char* fileName, const char* commandLine)
{
    char line[2 * MAX_PATH];
    lstrcpyA(line, "folder ");
    DWORD n = GetCurrentDirectoryA(MAX_PATH, line + 7);
    if (n == 0 || n >= MAX_PATH) line[7] = '\0';
    SampleLine(fileName, line);
    lstrcpyA(line, "args ");
    lstrcpynA(line + 5, commandLine ? commandLine : "", sizeof line - 5);
    SampleLine(fileName, line);
}

// A number from the environment (the tests and the demo set them), else the default.
inline DWORD SampleNumber(const char* variable, DWORD fallback)
{
    char value[32];
    DWORD n = GetEnvironmentVariableA(variable, value, sizeof value);
    if (n == 0 || n >= sizeof value) return fallback;
    DWORD number = 0;
    for (const char* p = value; *p >= '0' && *p <= '9'; ++p) number = number * 10 + (DWORD)(*p - '0');
    return number;
}
