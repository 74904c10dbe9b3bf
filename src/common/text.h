#pragma once
// Conversions between the program's two text forms: 8-bit strings hold UTF-8, wide strings hold
// UTF-16 on Windows (UTF-32 where wchar_t is 32 bits wide).

#include <string>

// Empty on failure; invalid sequences are replaced, not rejected; a text is cut at an embedded zero.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
