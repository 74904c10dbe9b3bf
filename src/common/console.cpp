#include "common/console.h"

#include <cstdio>

#include "common/log.h"
#include "common/system_error_text.h"
#include "common/text.h"

#ifdef _WIN32
#include <windows.h>

namespace {
bool g_attachedConsole = false;
UINT g_callersCodePage = 0;  // the console's output code page before we changed it; 0: unchanged

// A file, a pipe, or a character device that is not a console (NUL, where the caller threw the
// output away, or a serial port) is where the caller wants the output.
bool HasUsableStandardOutput() {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return false;
    const DWORD type = GetFileType(output);
    if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) return true;
    DWORD mode = 0;
    return type == FILE_TYPE_CHAR && !GetConsoleMode(output, &mode);
}
}  // namespace

bool AttachParentConsole() {
    if (!HasUsableStandardOutput()) {
        if (!AttachConsole(ATTACH_PARENT_PROCESS)) {
            Log(LogLevel::Error, SystemErrorText("Attaching console"));
            return false;
        }
        g_attachedConsole = true;
        FILE* ignored = nullptr;
        freopen_s(&ignored, "CON", "w", stdout);
        // Our lines are UTF-8; the console is the caller's and gets its code page back at the end.
        const UINT callers = GetConsoleOutputCP();
        if (callers != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) g_callersCodePage = callers;
    }
    std::fputs("\n", stdout);
    std::fflush(stdout);
    return true;
}

void FreeParentConsole() {
    if (!g_attachedConsole) return;
    std::fflush(stdout);
    if (g_callersCodePage != 0) SetConsoleOutputCP(g_callersCodePage);
    g_callersCodePage = 0;
    FreeConsole();
    g_attachedConsole = false;
}

#else

bool AttachParentConsole() {
    std::fputs("\n", stdout);
    std::fflush(stdout);
    return true;
}

void FreeParentConsole() {}

#endif

void WriteConsoleLine(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

void WriteConsoleLine(const std::wstring& text) { WriteConsoleLine(WideToUtf8(text)); }
