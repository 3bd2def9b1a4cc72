// Test support: the desktop watcher.
#include "testing/watcher.h"

#include <algorithm>

#include "testing/testutil.h"

namespace vt {

std::string WindowText(HWND window)
{
    // InternalGetWindowText never sends a message, so it cannot hang on a window whose thread
    // is not pumping (GetWindowText would send WM_GETTEXT to a window of our own process).
    wchar_t wide[1024] = L"";
    InternalGetWindowText(window, wide, 1024);
    char buf[2048] = "";
    WideCharToMultiByte(CP_ACP, 0, wide, -1, buf, sizeof buf, NULL, NULL);
    return buf;
}

static BOOL CALLBACK CollectDialog(HWND w, LPARAM p);

void Screenshot(HWND window, const std::string& name)
{
    char dir[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("VEMLO_SHOTS", dir, sizeof dir);
    if (n == 0 || n >= sizeof dir) return;
    RECT r;
    if (!GetWindowRect(window, &r)) return;
    std::string unixFile = std::string(dir) + "/" + name +
                           (LOWORD(GetSystemDefaultLangID()) == 2052 ? "-zh.png" : "-en.png");
    std::string winFile = "Z:" + unixFile;
    for (auto& c : winFile)
        if (c == '/') c = '\\';
    DeleteFileA(winFile.c_str());
    char crop[64];
    wsprintfA(crop, "%dx%d+%d+%d", (int)(r.right - r.left), (int)(r.bottom - r.top), (int)r.left, (int)r.top);
    Sleep(300);  // let the window paint
    HANDLE p = StartProgram("Z:\\usr\\bin\\import", {"-window", "root", "-crop", crop, unixFile});
    if (p) CloseHandle(p);
    for (int i = 0; i < 100 && GetFileAttributesA(winFile.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
    Sleep(300);  // import writes the file in more than one step
}

Watcher::Watcher(const std::string& shotName) : shotName_(shotName)
{
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&handled_));
    thread_ = std::thread([this] { Run(); });
}

Watcher::Watcher(std::function<bool(HWND)> handler) : handler_(std::move(handler))
{
    // Windows that are already up belong to somebody else: they are left alone.
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&handled_));
    thread_ = std::thread([this] { Run(); });
}

Watcher::~Watcher()
{
    stop_ = true;
    thread_.join();
}

std::vector<SeenWindow> Watcher::Seen()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

bool Watcher::WaitFor(size_t n, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (seen_.size() >= n) return true;
        }
        Sleep(20);
    }
    return false;
}

void Watcher::PressOk(HWND box)
{
    HWND ok = GetDlgItem(box, IDOK);
    if (ok) PostMessageA(ok, BM_CLICK, 0, 0);
    else PostMessageA(box, WM_COMMAND, IDOK, 0);
}

// A named CALLBACK function, not a lambda: on i686 a lambda does not convert to the stdcall
// WNDENUMPROC.
static BOOL CALLBACK CollectDialog(HWND w, LPARAM p)
{
    char cls[32] = "";
    GetClassNameA(w, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") == 0 && IsWindowVisible(w))
        reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
    return TRUE;
}

void Watcher::Run()
{
    while (!stop_) {
        std::vector<HWND> found;
        EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&found));
        for (HWND w : found) {
            if (std::find(handled_.begin(), handled_.end(), w) != handled_.end()) continue;
            Sleep(100);  // let the window finish setting its texts
            SeenWindow seen{WindowText(w), WindowText(GetDlgItem(w, 0xFFFF))};
            // A window that went away meanwhile (a dialog ended after the box over it was
            // answered) is nobody's to answer: its texts may have read back empty.
            if (!IsWindow(w) || !IsWindowVisible(w)) continue;
            if (!handler_ && !shotName_.empty()) Screenshot(w, shotName_);
            bool done = handler_ ? handler_(w) : (PressOk(w), true);
            if (done) {
                handled_.push_back(w);
                std::lock_guard<std::mutex> lock(mutex_);
                seen_.push_back(seen);
            }
        }
        Sleep(50);
    }
}

}  // namespace vt
