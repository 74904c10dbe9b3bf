#pragma once
// Messages between the installation stages and the installer window. Workers only post them.
#ifdef _WIN32
#include <windows.h>

constexpr UINT WM_INSTALL_START = WM_USER + 1;     // 1025: start-up → window, once
constexpr UINT WM_INSTALL_PROGRESS = WM_USER + 2;  // 1026: wParam position, lParam maximum
constexpr UINT WM_DOWNLOAD_DONE = WM_USER + 3;     // 1027: download stage finished
constexpr UINT WM_EXTRACT_DONE = WM_USER + 4;      // 1028: extraction stage finished
// 1029: a stage failed; the window shows the failure on its own thread, so a worker never waits
// on a UI thread that may be joining it.
constexpr UINT WM_INSTALL_FAILED = WM_USER + 5;
// 1030: the download starts another attempt; the status line and the progress bar start again.
constexpr UINT WM_DOWNLOAD_RETRY = WM_USER + 6;

// Any thread: posts WM_INSTALL_PROGRESS for |done| of |total| (bytes, entries, any unit), both
// scaled down together until they fit the progress bar's range (a signed 32-bit number), so that
// a package above 2 GiB moves the bar as a small one does, also in the 32-bit build.
inline void PostProgress(HWND window, unsigned long long done, unsigned long long total) {
    while (total > 0x7FFFFFFFULL) {
        done >>= 1;
        total >>= 1;
    }
    PostMessageW(window, WM_INSTALL_PROGRESS, static_cast<WPARAM>(done), static_cast<LPARAM>(total));
}

// One stage's progress, posted at most every 50 ms, and always its last step. A stage that
// posted every step could keep the window's queue from ever emptying: posted messages are taken
// before input, so the Cancel button would get no answer until the stage ended.
class ProgressPoster {
public:
    static constexpr DWORD kIntervalMs = 50;

    explicit ProgressPoster(HWND window) : m_window(window), m_lastPost(GetTickCount() - kIntervalMs) {}

    void Post(unsigned long long done, unsigned long long total) {
        const DWORD now = GetTickCount();
        if (done < total && now - m_lastPost < kIntervalMs) return;
        PostProgress(m_window, done, total);
        m_lastPost = now;
    }

private:
    HWND m_window;
    DWORD m_lastPost;
};
#endif
