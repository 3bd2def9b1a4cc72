// The progress window of an attended unpack: shown by a thread of its own when the unpack has
// not finished after half a second, gone again before the installer starts.
#include <windows.h>

#include "base/text.h"
#include "setup/setup.h"

const DWORD kProgressDelayMs = 500;

namespace {

// SetupProgress::state: the window thread and the unpack each move it on from kWaiting once,
// and whichever comes first decides whether the window shows.
enum : LONG { kWaiting = 0, kShown = 1, kUnpackedFirst = 2 };

const char kClass[] = "VemloSetupProgress";
const UINT_PTR kRedrawTimer = 1;
const int kTextId = 100;

// Sizes at 96 dots per inch; scaled to the display's.
const int kClientWidth = 320, kClientHeight = 76, kMargin = 16, kTextTop = 14, kTextHeight = 20, kBarTop = 44,
          kBarHeight = 16;

int Scaled(int size, int dpi) { return MulDiv(size, dpi, 96); }

void PaintBar(HWND window, const SetupProgress* progress, int dpi)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT bar = {Scaled(kMargin, dpi), Scaled(kBarTop, dpi), Scaled(kClientWidth - kMargin, dpi),
                Scaled(kBarTop + kBarHeight, dpi)};
    FrameRect(dc, &bar, GetSysColorBrush(COLOR_BTNSHADOW));
    InflateRect(&bar, -1, -1);
    int percent = ProgressPercent((DWORD)progress->bytesDone, progress->totalBytes);
    RECT done = bar;
    done.right = bar.left + MulDiv(bar.right - bar.left, percent, 100);
    FillRect(dc, &done, GetSysColorBrush(COLOR_HIGHLIGHT));
    bar.left = done.right;
    FillRect(dc, &bar, GetSysColorBrush(COLOR_WINDOW));
    EndPaint(window, &ps);
}

LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const SetupProgress* progress = reinterpret_cast<const SetupProgress*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_NCCREATE:
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
        break;
    case WM_TIMER:
        InvalidateRect(window, NULL, FALSE);
        return 0;
    case WM_PAINT:
        if (progress) {
            PaintBar(window, progress, progress->dpi);
            return 0;
        }
        break;
    case WM_CLOSE:  // the unpack cannot be cancelled; the window goes when it is done
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Makes the window, centred and topmost, with its text in the message font of the system.
HWND MakeWindow(SetupProgress* progress, HFONT* font)
{
    HINSTANCE instance = GetModuleHandleA(NULL);
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = ProgressProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(NULL, MAKEINTRESOURCEA(32514));  // IDC_APPSTARTING: busy, yet usable
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(130));
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kClass;
    RegisterClassA(&wc);

    HDC screen = GetDC(NULL);
    progress->dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(NULL, screen);
    int dpi = progress->dpi;
    DWORD style = WS_POPUP | WS_CAPTION | WS_BORDER;
    RECT r = {0, 0, Scaled(kClientWidth, dpi), Scaled(kClientHeight, dpi)};
    AdjustWindowRectEx(&r, style, FALSE, WS_EX_TOPMOST);
    int width = r.right - r.left, height = r.bottom - r.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    bool chinese = IsChineseSystem();
    HWND window = CreateWindowExA(WS_EX_TOPMOST, kClass, SetupCaption(chinese), style, x, y, width, height, NULL,
                                  NULL, instance, progress);
    if (!window) return NULL;
    HWND text = CreateWindowExA(0, "STATIC", SetupProgressText(chinese), WS_CHILD | WS_VISIBLE | SS_LEFT,
                                Scaled(kMargin, dpi), Scaled(kTextTop, dpi), Scaled(kClientWidth - 2 * kMargin, dpi),
                                Scaled(kTextHeight, dpi), window, (HMENU)(INT_PTR)kTextId, instance, NULL);
    NONCLIENTMETRICSA metrics;
    ZeroMemory(&metrics, sizeof metrics);
    metrics.cbSize = sizeof metrics;
    *font = SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)
                ? CreateFontIndirectA(&metrics.lfMessageFont)
                : NULL;
    if (text && *font) SendMessageA(text, WM_SETFONT, (WPARAM)*font, FALSE);
    SetTimer(window, kRedrawTimer, 100, NULL);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    return window;
}

DWORD WINAPI ProgressThread(void* arg)
{
    SetupProgress* progress = static_cast<SetupProgress*>(arg);
    // Quick unpacks show nothing; nor does one that ends just as the delay runs out.
    if (WaitForSingleObject(progress->stop, progress->delayMs) != WAIT_TIMEOUT) return 0;
    if (InterlockedCompareExchange(&progress->state, kShown, kWaiting) != kWaiting) return 0;
    HFONT font = NULL;
    HWND window = MakeWindow(progress, &font);
    while (window) {
        DWORD woke = MsgWaitForMultipleObjects(1, &progress->stop, FALSE, INFINITE, QS_ALLINPUT);
        if (woke != WAIT_OBJECT_0 + 1) break;  // stopped (or the wait failed): the window goes
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    if (window) DestroyWindow(window);
    if (font) DeleteObject(font);
    UnregisterClassA(kClass, GetModuleHandleA(NULL));
    return 0;
}

}  // namespace

int ProgressPercent(DWORD done, DWORD total)
{
    if (total == 0 || done >= total) return 100;
    return (int)(((unsigned long long)done * 100) / total);
}

bool StartProgress(SetupProgress* progress, DWORD totalBytes, DWORD delayMs)
{
    ZeroMemory(progress, sizeof *progress);
    progress->totalBytes = totalBytes;
    progress->delayMs = delayMs;
    progress->stop = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!progress->stop) return false;
    progress->thread = CreateThread(NULL, 0, ProgressThread, progress, 0, NULL);
    if (!progress->thread) {
        CloseHandle(progress->stop);
        progress->stop = NULL;
        return false;
    }
    return true;
}

void ProgressUnpacked(SetupProgress* progress)
{
    if (progress->thread && InterlockedCompareExchange(&progress->state, kUnpackedFirst, kWaiting) == kWaiting)
        SetEvent(progress->stop);
}

void StopProgress(SetupProgress* progress)
{
    if (!progress->thread) return;
    SetEvent(progress->stop);
    // The window is gone when this returns, before the installer can show its own.
    WaitForSingleObject(progress->thread, INFINITE);
    CloseHandle(progress->thread);
    CloseHandle(progress->stop);
    progress->thread = progress->stop = NULL;
}
