#include "common/console.h"

#include <cstdio>

#include "common/log.h"
#include "common/system_error_text.h"
#include "common/text.h"

#ifdef _WIN32
#include <windows.h>

namespace {
bool g_attachedConsole = false;

bool HasUsableStandardOutput() {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return false;
    const DWORD type = GetFileType(output);
    return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
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
        SetConsoleOutputCP(CP_UTF8);
    }
    std::fputs("\n", stdout);
    std::fflush(stdout);
    return true;
}

void FreeParentConsole() {
    if (g_attachedConsole) FreeConsole();
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
