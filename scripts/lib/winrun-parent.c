/* winrun's Windows parent: starts the program named first on its command line, with the rest of
 * the line exactly as it came, waits for it and hands on its whole exit code. A Unix parent of
 * Wine sees only the low 8 bits of it (3010 arrives as 194), so the code also goes as decimal
 * text into the file named by VEMLO_WINRUN_EXIT_FILE, where scripts/winrun reads it.
 * Built by scripts/winrun with the 64-bit MinGW compiler on first use; C and the Win32 API only. */
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

/* The program's own name ends at the first blank outside quotes; quotes carry no escapes there. */
static wchar_t* SkipOwnName(wchar_t* p)
{
    int quoted = 0;
    for (; *p && (quoted || (*p != L' ' && *p != L'\t')); ++p)
        if (*p == L'"') quoted = !quoted;
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

/* The child writes where winrun's own output goes; Wine's standard handles are not inherited by
 * default when they are plain files. */
static HANDLE Inheritable(DWORD which)
{
    HANDLE h = GetStdHandle(which);
    if (h && h != INVALID_HANDLE_VALUE) SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    return h;
}

int wmain(void)
{
    wchar_t* line = SkipOwnName(GetCommandLineW());
    if (!*line) {
        fputs("usage: winrun-parent PROGRAM [ARGS...]\n", stderr);
        return 2;
    }
    STARTUPINFOW start;
    PROCESS_INFORMATION child;
    ZeroMemory(&start, sizeof start);
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = Inheritable(STD_INPUT_HANDLE);
    start.hStdOutput = Inheritable(STD_OUTPUT_HANDLE);
    start.hStdError = Inheritable(STD_ERROR_HANDLE);
    // Under load Wine now and then fails to start a process with ERROR_INTERNAL_ERROR (1359)
    // before anything of it ran (seen in whole suite runs on a busy 2-core machine): a program
    // that never started may be started again.
    BOOL started = FALSE;
    DWORD error = 0;
    for (int attempt = 0; attempt < 4 && !started; ++attempt) {
        if (attempt) Sleep(250 * attempt);
        started = CreateProcessW(NULL, line, NULL, NULL, TRUE, 0, NULL, NULL, &start, &child);
        error = started ? 0 : GetLastError();
        if (!started && error != ERROR_INTERNAL_ERROR) break;
    }
    if (!started) {
        fwprintf(stderr, L"winrun: cannot start %ls: system error %lu\n", line, error);
        return 127;
    }
    CloseHandle(child.hThread);
    DWORD code = 1;
    if (WaitForSingleObject(child.hProcess, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(child.hProcess, &code))
        code = 1;
    CloseHandle(child.hProcess);

    wchar_t file[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"VEMLO_WINRUN_EXIT_FILE", file, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        FILE* f = _wfopen(file, L"w");
        if (f) {
            fprintf(f, "%lu\n", code);
            fclose(f);
        }
    }
    return (int)code;
}
