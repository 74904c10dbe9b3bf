#include "install/setup/command_line_argument.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"

namespace {

// What a program started with "prog" + |arguments| gets as its arguments after the program name.
std::vector<std::wstring> ParsedAfterProgram(const std::wstring& arguments) {
    int count = 0;
    LPWSTR* parsed = CommandLineToArgvW((L"prog" + arguments).c_str(), &count);
    std::vector<std::wstring> values;
    for (int i = 1; parsed && i < count; ++i) values.emplace_back(parsed[i]);
    LocalFree(parsed);
    return values;
}

struct Case {
    const wchar_t* value;
    const wchar_t* quoted;    // QuotedArgument
    const wchar_t* enclosed;  // EnclosedArgument
};

// value -> text on the command line -> what the usual parser gives back (the value itself).
const Case kCases[] = {
    {L"alice", L"alice", L"\"alice\""},
    {L"ab12", L"ab12", L"\"ab12\""},
    {L"", L"\"\"", L"\"\""},
    {L"alice smith", L"\"alice smith\"", L"\"alice smith\""},
    {L"alice -p C:\\evil", L"\"alice -p C:\\evil\"", L"\"alice -p C:\\evil\""},
    {L"ab12 (1)", L"\"ab12 (1)\"", L"\"ab12 (1)\""},
    {L"tab\there", L"\"tab\there\"", L"\"tab\there\""},
    {L"say \"hi\"", L"\"say \\\"hi\\\"\"", L"\"say \\\"hi\\\"\""},
    {L"\"", L"\"\\\"\"", L"\"\\\"\""},
    {L"C:\\Program Files\\App\\", L"\"C:\\Program Files\\App\\\\\"", L"\"C:\\Program Files\\App\\\\\""},
    {L"C:\\App\\", L"C:\\App\\", L"\"C:\\App\\\\\""},
    {L"C:\\App", L"C:\\App", L"\"C:\\App\""},
    {L"a\\\\b", L"a\\\\b", L"\"a\\\\b\""},                    // backslashes inside stay as they are
    {L"a\\\"b c", L"\"a\\\\\\\"b c\"", L"\"a\\\\\\\"b c\""},  // backslash before a quote: doubled, quote escaped
    {L"end\\\\", L"end\\\\", L"\"end\\\\\\\\\""},
    {L"\\\\server\\share dir", L"\"\\\\server\\share dir\"", L"\"\\\\server\\share dir\""},
    {L"Jos\u00E9 Mar\u00EDa", L"\"Jos\u00E9 Mar\u00EDa\"", L"\"Jos\u00E9 Mar\u00EDa\""},
};

TEST(CommandLineArgument, EachValueIsQuotedOnlyWhenNeededAndComesBackWhole) {
    for (const Case& c : kCases) {
        const std::string name = WideToUtf8(c.value);
        EXPECT_EQ(std::wstring(c.quoted), QuotedArgument(c.value)) << name;
        EXPECT_EQ(std::wstring(c.enclosed), EnclosedArgument(c.value)) << name;
        EXPECT_EQ(std::vector<std::wstring>{c.value}, ParsedAfterProgram(L" " + QuotedArgument(c.value))) << name;
        EXPECT_EQ(std::vector<std::wstring>{c.value}, ParsedAfterProgram(L" " + EnclosedArgument(c.value))) << name;
    }
}

TEST(CommandLineArgument, ValuesThatLookLikeOptionsStayValues) {
    const std::wstring line = L" -u " + QuotedArgument(L"alice -p C:\\evil") + L" -p " +
                              EnclosedArgument(L"C:\\Program Files\\App\\") + L" -i " + QuotedArgument(L"");
    EXPECT_EQ((std::vector<std::wstring>{L"-u", L"alice -p C:\\evil", L"-p", L"C:\\Program Files\\App\\", L"-i", L""}),
              ParsedAfterProgram(line));
}

}  // namespace
