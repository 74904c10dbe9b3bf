#pragma once
// One value written into a Windows command line so that the program started with it gets it back
// as exactly one argument, by the splitting rules of CommandLineToArgvW and the C runtime:
// backslashes are literal unless they come before a double quote, where each pair gives one
// backslash and an odd one escapes the quote.
#include <string>

// The value as it is when it needs no quoting (not empty; no blank, tab, line break or double
// quote); otherwise enclosed in double quotes with its quotes and the backslashes before them
// escaped.
std::wstring QuotedArgument(const std::wstring& value);

// The value always enclosed in double quotes, escaped as above (a trailing backslash is doubled so
// that it does not escape the closing quote).
std::wstring EnclosedArgument(const std::wstring& value);
