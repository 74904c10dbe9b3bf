// Test-only companion of the installer: finds its window by title and puts it into the states
// the installation would, without any download. Never part of the shipped program.
//
//   window_driver find TITLE                 waits for the window (up to 10 s)
//   window_driver progress TITLE POS MAX     posts WM_INSTALL_PROGRESS and waits until handled
//   window_driver cancel TITLE LABEL         labels and shows the cancel button (as the start does)
//   window_driver status TITLE TEXT          sets the status line (as an interactive run does)
//   window_driver query TITLE                prints the window's state as key=value lines
//   window_driver close TITLE                posts WM_CLOSE (as the end of a run does)
//
// Exit code 0 on success, 2 when the window does not appear, 1 for a bad command line.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "common/text.h"
#include "install/window_messages.h"

namespace {
constexpr int kProgressBarId = 1001;
constexpr int kStatusTextId = 1002;
constexpr int kCancelButtonId = 1004;
constexpr DWORD kFindTimeoutMs = 10000;
constexpr UINT kSendTimeoutMs = 5000;
constexpr WPARAM kMarkerStep = 7;  // the progress bar's step is never used by the installer

HWND FindInstallerWindow(const std::wstring& title) {
    const DWORD start = GetTickCount();
    for (;;) {
        const HWND window = FindWindowW(L"#32770", title.c_str());
        if (window != nullptr || GetTickCount() - start > kFindTimeoutMs) return window;
        Sleep(100);
    }
}

LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
    return static_cast<LRESULT>(result);
}

std::string Text(HWND window) {
    wchar_t text[512] = {};
    Send(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    return WideToUtf8(text);
}

// Posted messages of one thread are handled in order, so once a marker posted after |message|
// has taken effect, |message| has been handled too.
bool PostAndSettle(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND progressBar = GetDlgItem(dialog, kProgressBarId);
    Send(progressBar, PBM_SETSTEP, 10);
    if (!PostMessageW(dialog, message, wParam, lParam)) return false;
    PostMessageW(progressBar, PBM_SETSTEP, kMarkerStep, 0);
    const DWORD start = GetTickCount();
    while (Send(progressBar, PBM_SETSTEP, kMarkerStep) != static_cast<LRESULT>(kMarkerStep)) {
        if (GetTickCount() - start > kFindTimeoutMs) return false;
        Sleep(20);
    }
    return true;
}

void PrintState(HWND dialog) {
    RECT window{}, client{};
    GetWindowRect(dialog, &window);
    GetClientRect(dialog, &client);
    POINT origin{0, 0};
    ClientToScreen(dialog, &origin);
    const HWND progressBar = GetDlgItem(dialog, kProgressBarId);
    const HWND button = GetDlgItem(dialog, kCancelButtonId);
    RECT buttonRect{}, barRect{};
    GetWindowRect(button, &buttonRect);
    GetWindowRect(progressBar, &barRect);
    std::printf("title=%s\n", Text(dialog).c_str());
    std::printf("visible=%d\n", IsWindowVisible(dialog) ? 1 : 0);
    std::printf("window=%ld,%ld,%ld,%ld\n", window.left, window.top, window.right - window.left,
                window.bottom - window.top);
    std::printf("client=%ld,%ld,%ld,%ld\n", origin.x, origin.y, client.right, client.bottom);
    std::printf("progress_pos=%ld\n", static_cast<long>(Send(progressBar, PBM_GETPOS)));
    std::printf("progress_max=%ld\n", static_cast<long>(Send(progressBar, PBM_GETRANGE, FALSE)));
    std::printf("progress_rect=%ld,%ld,%ld,%ld\n", barRect.left, barRect.top, barRect.right - barRect.left,
                barRect.bottom - barRect.top);
    std::printf("button_visible=%d\n", IsWindowVisible(button) ? 1 : 0);
    std::printf("button_type=%ld\n", static_cast<long>(GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK));
    std::printf("button_text=%s\n", Text(button).c_str());
    std::printf("button_rect=%ld,%ld,%ld,%ld\n", buttonRect.left, buttonRect.top, buttonRect.right - buttonRect.left,
                buttonRect.bottom - buttonRect.top);
    std::printf("status=%s\n", Text(GetDlgItem(dialog, kStatusTextId)).c_str());
}

int Usage() {
    std::fputs("usage: window_driver find|progress|cancel|status|query|close TITLE [ARGS]\n", stderr);
    return 1;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return Usage();
    const std::wstring command = argv[1];
    const HWND dialog = FindInstallerWindow(argv[2]);
    if (dialog == nullptr) {
        std::fprintf(stderr, "window_driver: no window titled \"%s\"\n", WideToUtf8(argv[2]).c_str());
        return 2;
    }
    if (command == L"find") return 0;
    if (command == L"query") {
        PrintState(dialog);
        return 0;
    }
    if (command == L"close") return PostMessageW(dialog, WM_CLOSE, 0, 0) ? 0 : 2;
    if (command == L"progress" && argc == 5) {
        const auto position = static_cast<WPARAM>(std::wcstoul(argv[3], nullptr, 10));
        const auto maximum = static_cast<LPARAM>(std::wcstoul(argv[4], nullptr, 10));
        return PostAndSettle(dialog, WM_INSTALL_PROGRESS, position, maximum) ? 0 : 2;
    }
    if (command == L"cancel" && argc == 4) {
        const HWND button = GetDlgItem(dialog, kCancelButtonId);
        Send(button, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
        ShowWindow(button, SW_SHOW);
        return 0;
    }
    if (command == L"status" && argc == 4) {
        InvalidateRect(dialog, nullptr, TRUE);
        Send(GetDlgItem(dialog, kStatusTextId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
        return 0;
    }
    return Usage();
}
