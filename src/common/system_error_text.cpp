#include "common/system_error_text.h"

#include <cstdio>

#include "common/text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#endif

namespace {
constexpr char kNoSystemText[] = "the system has no description of this error.";

unsigned long LastErrorCode() {
#ifdef _WIN32
    return GetLastError();
#else
    return static_cast<unsigned long>(errno);
#endif
}
}  // namespace

#ifdef _WIN32
std::string ModuleMessageText(unsigned long code, const void* module) {
    // The wide form: the ANSI one would hand over the text in the system's code page, and
    // everything this program writes is UTF-8.
    wchar_t* buffer = nullptr;
    const DWORD source = module ? FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM : FORMAT_MESSAGE_FROM_SYSTEM;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | source, module,
                       static_cast<DWORD>(code), LANG_USER_DEFAULT, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring wide;
    if (length > 0 && buffer) wide.assign(buffer, length);
    if (buffer) LocalFree(buffer);
    std::string text = WideToUtf8(wide);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return text;
}

std::string SystemMessageText(unsigned long code) { return ModuleMessageText(code, nullptr); }
#else
std::string SystemMessageText(unsigned long code) {
    std::string text = std::strerror(static_cast<int>(code));
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return text;
}
#endif

std::string FormatSystemError(const char* context, unsigned long code, std::string systemText) {
    const std::string where = context ? context : "";
    if (code == 0) return (where.empty() ? std::string("Last ") : where + ": ") + "operation completed successfully.";
    while (!systemText.empty() && (systemText.back() == '\r' || systemText.back() == '\n')) systemText.pop_back();
    if (systemText.empty()) systemText = kNoSystemText;
    const unsigned int value = static_cast<unsigned int>(code);
    char numbers[48];
    // A code with the top bit set is an HRESULT or NTSTATUS: only its hexadecimal form means
    // anything to a reader.
    if (value > 0x7FFFFFFFu)
        std::snprintf(numbers, sizeof numbers, " 0x%08X: ", value);
    else
        std::snprintf(numbers, sizeof numbers, " %u (0x%04X): ", value, value);
    const std::string head = where.empty() ? std::string("Last system error") : where + " failed with error";
    return head + numbers + systemText;
}

std::string SystemErrorText(const char* context) {
    const unsigned long code = LastErrorCode();
    return FormatSystemError(context, code, code == 0 ? std::string() : SystemMessageText(code));
}
