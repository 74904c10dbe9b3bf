#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#ifdef _WIN32
#include <windows.h>
#endif

#include "common/system_error_text.h"
#include "common/text.h"

namespace {

TEST(TextConversion, RoundTripsNonAsciiAndKeepsEmptyEmpty) {
    EXPECT_EQ(Utf8ToWide(""), L"");
    EXPECT_EQ(WideToUtf8(L""), "");
    const std::string path =
        "C:\\Program Files\\T\xC3\xA9l\xC3\xA9"
        "chargement\\\xE6\x97\xA5\xE6\x9C\xAC";
    const std::wstring wide = Utf8ToWide(path);
    EXPECT_EQ(wide, L"C:\\Program Files\\T\u00E9l\u00E9chargement\\\u65E5\u672C");
    EXPECT_EQ(WideToUtf8(wide), path);
}

TEST(TextConversion, CutsAtAnEmbeddedZeroAndReplacesInvalidBytes) {
    EXPECT_EQ(Utf8ToWide(std::string("ab\0cd", 5)), L"ab");
    EXPECT_EQ(Utf8ToWide("a\xFF"
                         "b"),
              L"a\uFFFDb");
}

TEST(SystemErrorSentence, FollowsTheFixedShapes) {
    EXPECT_EQ(FormatSystemError("", 0, ""), "Last operation completed successfully.");
    EXPECT_EQ(FormatSystemError("Attaching console", 0, ""), "Attaching console: operation completed successfully.");
    EXPECT_EQ(FormatSystemError("Attaching console", 6, "The handle is invalid.\r\n"),
              "Attaching console failed with error 6 (0x0006): The handle is invalid.");
    EXPECT_EQ(FormatSystemError("", 5, "Access is denied."), "Last system error 5 (0x0005): Access is denied.");
    EXPECT_EQ(FormatSystemError("Downloading install files", 0x800C0005ul, ""),
              "Downloading install files failed with error 0x800C0005: the system has no description of this error.");
    EXPECT_EQ(FormatSystemError("The installation", 0x80070005ul, "Access is denied."),
              "The installation failed with error 0x80070005: Access is denied.");
    EXPECT_EQ(FormatSystemError("Reading", 12345, "\r\n"),
              "Reading failed with error 12345 (0x3039): the system has no description of this error.");
}

TEST(SystemErrorSentence, ReadsTheCallersLastErrorFirst) {
#ifdef _WIN32
    SetLastError(5);
#else
    errno = 13;
#endif
    const std::string text = SystemErrorText("Opening");
#ifdef _WIN32
    EXPECT_EQ(text.rfind("Opening failed with error 5 (0x0005): ", 0), 0u) << text;
#else
    EXPECT_EQ(text.rfind("Opening failed with error 13 (0x000D): ", 0), 0u) << text;
#endif
    EXPECT_NE(text.back(), '\n');
}

}  // namespace
