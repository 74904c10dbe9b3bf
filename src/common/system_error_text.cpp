#include "common/system_error_text.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#endif

namespace {
unsigned long LastErrorCode() {
#ifdef _WIN32
    return GetLastError();
#else
    return static_cast<unsigned long>(errno);
#endif
}
}  // namespace

std::string SystemMessageText(unsigned long code) {
    std::string text;
#ifdef _WIN32
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), LANG_USER_DEFAULT, reinterpret_cast<char*>(&buffer), 0, nullptr);
    if (length > 0 && buffer) text.assign(buffer, length);
    if (buffer) LocalFree(buffer);
#else
    text = std::strerror(static_cast<int>(code));
#endif
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return text;
}

std::string FormatSystemError(const char* context, unsigned long code, std::string systemText) {
    const std::string where = context ? context : "";
    if (code == 0) return (where.empty() ? std::string("Last ") : where + ": ") + "operation completed successfully.";
    while (!systemText.empty() && (systemText.back() == '\r' || systemText.back() == '\n')) systemText.pop_back();
    const unsigned int value = static_cast<unsigned int>(code);
    char numbers[48];
    std::snprintf(numbers, sizeof numbers, " %u (0x%04X): ", value, value);
    const std::string head = where.empty() ? std::string("Last system error") : where + " failed with error";
    return head + numbers + systemText;
}

std::string SystemErrorText(const char* context) {
    const unsigned long code = LastErrorCode();
    return FormatSystemError(context, code, code == 0 ? std::string() : SystemMessageText(code));
}
