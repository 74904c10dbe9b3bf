// Pings the installer's window from outside, as a user's desktop does, and reports how long the
// longest answer took: the window must never stop answering.
//   window_ping.exe TITLE_PREFIX SECONDS
// Prints "ping TAB answered TAB longest ms TAB unanswered" when the window is gone or the time is up.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr UINT kAnswerLimitMs = 5000;
constexpr DWORD kIntervalMs = 50;

struct Search {
    const wchar_t* prefix;
    HWND found = nullptr;
};

BOOL CALLBACK Visit(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<Search*>(context);
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    if (std::wcsncmp(title, search.prefix, std::wcslen(search.prefix)) == 0 && GetDlgItem(window, 1002)) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindInstaller(const wchar_t* prefix) {
    Search search{prefix};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(_wtoi(argv[2])) * 1000;
    HWND window = nullptr;
    while (!window && GetTickCount64() < end) {
        window = FindInstaller(argv[1]);
        if (!window) Sleep(kIntervalMs);
    }
    unsigned answered = 0, unanswered = 0;
    ULONGLONG longest = 0;
    while (window && IsWindow(window) && GetTickCount64() < end) {
        const ULONGLONG start = GetTickCount64();
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerLimitMs, &result)) {
            ++answered;
        } else if (IsWindow(window)) {
            ++unanswered;
        }
        const ULONGLONG took = GetTickCount64() - start;
        if (took > longest && IsWindow(window)) longest = took;
        Sleep(kIntervalMs);
    }
    std::printf("ping\t%u\t%llu\t%u\n", answered, longest, unanswered);
    std::fflush(stdout);
    return 0;
}
