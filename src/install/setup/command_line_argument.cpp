#include "install/setup/command_line_argument.h"

namespace {
bool NeedsQuotes(const std::wstring& value) {
    return value.empty() || value.find_first_of(L" \t\n\v\"") != std::wstring::npos;
}
}  // namespace

std::wstring EnclosedArgument(const std::wstring& value) {
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t character : value) {
        if (character == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled and the quote escaped; elsewhere they stay as they are.
        const size_t written = character == L'"' ? backslashes * 2 + 1 : backslashes;
        quoted.append(written, L'\\');
        quoted.push_back(character);
        backslashes = 0;
    }
    quoted.append(backslashes * 2, L'\\');  // before the closing quote
    quoted.push_back(L'"');
    return quoted;
}

std::wstring QuotedArgument(const std::wstring& value) { return NeedsQuotes(value) ? EnclosedArgument(value) : value; }
