// Sample inner installer of the demo payload: shows a window while it "installs" the files it
// was shipped with into C:\VemloDemo, then ends by itself. With /S (or /quiet) it shows nothing.
// Its exit code is VEMLO_SAMPLE_EXIT_CODE (default 0), so a demo can end in 3010 or a failure.
// With VEMLO_SAMPLE_RELAUNCH=1 it starts itself once more (adding /relaunched to its command line)
// and ends at once, as installers do that relaunch themselves; the second one does the work.
#include <windows.h>
#include <string.h>

#include "samples/common.h"

namespace {

const char kClass[] = "VemloSampleInstaller";
const char kTarget[] = "C:\\VemloDemo";
const char* const kPayload[] = {"readme.txt", "client.ini", "ulmApxSvr.exe"};
const UINT_PTR kStepTimer = 1;

int g_step = 0;
DWORD g_stepMs = 400;
char g_status[160] = "Preparing...";

void InstallOne(const char* name)
{
    char from[MAX_PATH], to[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, from, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    char* slash = from + n;
    while (slash > from && *slash != '\\') --slash;
    if ((size_t)(slash - from) + 1 + lstrlenA(name) >= MAX_PATH) return;
    lstrcpyA(slash + 1, name);
    wsprintfA(to, "%s\\%s", kTarget, name);
    CopyFileA(from, to, FALSE);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        SetTimer(window, kStepTimer, g_stepMs, NULL);
        return 0;
    case WM_TIMER:
        if (g_step < (int)(sizeof kPayload / sizeof kPayload[0])) {
            InstallOne(kPayload[g_step]);
            wsprintfA(g_status, "Installing %s ...", kPayload[g_step]);
            ++g_step;
        } else {
            KillTimer(window, kStepTimer);
            DestroyWindow(window);
        }
        InvalidateRect(window, NULL, TRUE);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT r;
        GetClientRect(window, &r);
        r.left += 16;
        r.top += 16;
        DrawTextA(dc, "Vemlo client setup", -1, &r, DT_LEFT | DT_TOP | DT_SINGLELINE);
        r.top += 28;
        DrawTextA(dc, g_status, -1, &r, DT_LEFT | DT_TOP | DT_SINGLELINE);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Like any silent installer: a word /S or /quiet of the command line (or -S, -quiet), in any
// letter case.
bool IsSilent(const char* commandLine)
{
    char words[512];
    lstrcpynA(words, commandLine ? commandLine : "", sizeof words);
    for (char* word = strtok(words, " \t"); word; word = strtok(NULL, " \t"))
        if ((word[0] == '/' || word[0] == '-') && (lstrcmpiA(word + 1, "S") == 0 || lstrcmpiA(word + 1, "quiet") == 0))
            return true;
    return false;
}

int RunWithWindow(HINSTANCE instance, int show)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = kClass;
    RegisterClassA(&wc);
    HWND window = CreateWindowA(kClass, "Vemlo client setup", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                                CW_USEDEFAULT, CW_USEDEFAULT, 360, 140, NULL, NULL, instance, NULL);
    if (!window) return 0;
    ShowWindow(window, show);
    UpdateWindow(window);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 1;
}

// Starts this program again with commandLine and " /relaunched". true when it started.
bool Relaunch(const char* commandLine)
{
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    char line[MAX_PATH + 600];
    wsprintfA(line, "\"%s\" %s /relaunched", self, commandLine ? commandLine : "");
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(self, line, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show)
{
    if (SampleNumber("VEMLO_SAMPLE_RELAUNCH", 0) == 1 && !strstr(commandLine ? commandLine : "", "/relaunched"))
        return Relaunch(commandLine) ? 0 : 1;
    SampleNote("VemloSetup.note", "started");
    SampleRecordStart("VemloSetup.run", commandLine);
    g_stepMs = SampleNumber("VEMLO_SAMPLE_STEP_MS", 400);
    CreateDirectoryA(kTarget, NULL);
    if (IsSilent(commandLine)) {
        for (const char* name : kPayload) {
            Sleep(g_stepMs);
            InstallOne(name);
        }
    } else if (!RunWithWindow(instance, show)) {
        return 1;
    }
    SampleNote("VemloSetup.note", "ended");
    return (int)SampleNumber("VEMLO_SAMPLE_EXIT_CODE", 0);
}
