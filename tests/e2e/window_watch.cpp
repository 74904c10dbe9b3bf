// Watches the installer's window from outside, as a test sees it, and prints one line whenever
// what it shows changes:
//   window TAB ms TAB visible TAB status text TAB bar visible TAB position TAB maximum
//          TAB cancel visible TAB cancel label TAB cancel centre x TAB cancel centre y
//          TAB bar left TAB bar top TAB bar right TAB bar bottom      (screen coordinates)
//   box TAB ms TAB caption TAB text         (a message box of the installer appeared)
//   gone TAB ms                             (the window no longer exists)
//   timeout TAB ms
// ms counts from the start of the watch. The installer's window is the dialog whose title starts
// with TITLE_PREFIX and that holds the status control; a message box is a dialog titled exactly
// BOX_TITLE without it. Every query has a time limit, so a busy installer cannot stall the watch.
//   window_watch.exe TITLE_PREFIX BOX_TITLE SECONDS
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr int kStatusText = 1002;
constexpr int kProgressBar = 1001;
constexpr int kCancelButton = 1004;
constexpr int kMessageBoxText = 0xFFFF;
constexpr UINT kQueryTimeout = 250;

struct Found {
    const std::wstring* prefix;
    const std::wstring* boxTitle;
    HWND window = nullptr;
    HWND box = nullptr;
};

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// The text of a window of another process; empty when it does not answer in time.
std::wstring TextOf(HWND window) {
    wchar_t text[512] = {};
    DWORD_PTR copied = 0;
    if (!window || !SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                                        kQueryTimeout, &copied))
        return L"";
    return text;
}

// Titles are read without sending anything (InternalGetWindowText is not available everywhere;
// GetWindowTextW on another process's window reads the stored title without a message).
std::wstring TitleOf(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

BOOL CALLBACK Visit(HWND window, LPARAM context) {
    Found& found = *reinterpret_cast<Found*>(context);
    if (ClassOf(window) != L"#32770") return TRUE;
    const std::wstring title = TitleOf(window);
    if (GetDlgItem(window, kStatusText) && title.rfind(*found.prefix, 0) == 0)
        found.window = window;
    else if (title == *found.boxTitle && IsWindowVisible(window))
        found.box = window;
    return TRUE;
}

unsigned long Query(HWND control, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    if (!control || !SendMessageTimeoutW(control, message, wParam, lParam, SMTO_ABORTIFHUNG, kQueryTimeout, &result))
        return 0;
    return static_cast<unsigned long>(result);
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size) - 1);
    // Line breaks and tabs are written as \n, \r, \t so that one state stays one line.
    std::string escaped;
    for (const char c : out) {
        if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else if (c == '\t')
            escaped += "\\t";
        else if (c == '\\')
            escaped += "\\\\";
        else
            escaped += c;
    }
    return escaped;
}

std::string Describe(HWND window) {
    const HWND status = GetDlgItem(window, kStatusText);
    const HWND bar = GetDlgItem(window, kProgressBar);
    const HWND cancel = GetDlgItem(window, kCancelButton);
    RECT button{};
    if (cancel) GetWindowRect(cancel, &button);
    RECT barArea{};
    if (bar) GetWindowRect(bar, &barArea);
    char line[1024];
    std::snprintf(line, sizeof line, "%d\t%s\t%d\t%lu\t%lu\t%d\t%s\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld",
                  IsWindowVisible(window) ? 1 : 0, Utf8(TextOf(status)).c_str(), IsWindowVisible(bar) ? 1 : 0,
                  Query(bar, PBM_GETPOS), Query(bar, PBM_GETRANGE, FALSE, 0), cancel && IsWindowVisible(cancel) ? 1 : 0,
                  Utf8(TextOf(cancel)).c_str(), (button.left + button.right) / 2, (button.top + button.bottom) / 2,
                  barArea.left, barArea.top, barArea.right, barArea.bottom);
    return line;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fputs("usage: window_watch TITLE_PREFIX BOX_TITLE SECONDS\n", stderr);
        return 2;
    }
    const std::wstring prefix = argv[1];
    const std::wstring boxTitle = argv[2];
    const ULONGLONG start = GetTickCount64();
    const ULONGLONG end = start + static_cast<ULONGLONG>(_wtoi(argv[3])) * 1000;
    std::string last;
    std::string lastBox;
    bool seen = false;
    while (GetTickCount64() < end) {
        Found found{&prefix, &boxTitle};
        EnumWindows(Visit, reinterpret_cast<LPARAM>(&found));
        const unsigned long long ms = GetTickCount64() - start;
        if (found.window) {
            seen = true;
            const std::string now = Describe(found.window);
            if (now != last) std::printf("window\t%llu\t%s\n", ms, now.c_str());
            last = now;
        } else if (seen) {
            std::printf("gone\t%llu\n", ms);
            std::fflush(stdout);
            return 0;
        }
        if (found.box) {
            const std::string box =
                Utf8(TitleOf(found.box)) + "\t" + Utf8(TextOf(GetDlgItem(found.box, kMessageBoxText)));
            if (box != lastBox) std::printf("box\t%llu\t%s\n", ms, box.c_str());
            lastBox = box;
        }
        std::fflush(stdout);
        Sleep(20);
    }
    std::printf("timeout\t%llu\n", GetTickCount64() - start);
    return 1;
}
