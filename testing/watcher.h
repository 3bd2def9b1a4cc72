// Test support: a thread that watches the desktop for dialog windows (message boxes and
// dialogs of any process), records what they say and acts on them.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vt {

struct SeenWindow {
    std::string caption;
    std::string text;  // the message box text (static 0xFFFF), empty for other dialogs
};

// Text of a window in the "A" code page.
std::string WindowText(HWND window);

// When VEMLO_SHOTS names a (Unix) folder, saves a PNG of the window's screen area there as
// NAME-en.png or NAME-zh.png (by the system language), with ImageMagick's import. Else nothing.
void Screenshot(HWND window, const std::string& name);

class Watcher {
public:
    // handler is called (on the watcher thread) once for every new visible top-level window of
    // class #32770; it returns true when it has dealt with the window. Without a handler every
    // window is recorded and closed with its OK button.
    explicit Watcher(std::function<bool(HWND)> handler = nullptr);
    // Without a handler: every window is photographed as shotName (see Screenshot) before its
    // OK button is pressed.
    explicit Watcher(const std::string& shotName);
    ~Watcher();
    std::vector<SeenWindow> Seen();
    // Waits until at least n windows were seen, up to timeoutMs.
    bool WaitFor(size_t n, DWORD timeoutMs);

    static void PressOk(HWND box);

private:
    void Run();
    std::function<bool(HWND)> handler_;
    std::string shotName_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<SeenWindow> seen_;
    std::vector<HWND> handled_;
    std::thread thread_;
};

}  // namespace vt
