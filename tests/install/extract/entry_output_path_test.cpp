// Where entry names land: contained names only, and on Windows the right code page.

#include <gtest/gtest.h>

#include "common/text.h"
#include "install/extract/entry_output_path.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;

const fs::path kFolder = fs::path("base") / "Installer";

TEST(EntryOutputPath, ContainedNamesJoinTheFolder) {
    const struct {
        const char* name;
        const char* joined;  // relative to the folder, generic form
    } table[] = {
        {"a.txt", "a.txt"},
        {"dir/", "dir"},
        {"dir/sub/file.dll", "dir/sub/file.dll"},
        {"..name-with-dots..", "..name-with-dots.."},
        {"dir/...config", "dir/...config"},
        {"CONSOLE.txt", "CONSOLE.txt"},
    };
    for (const auto& row : table) {
        const auto path = EntryOutputPath(kFolder, row.name, false);
        ASSERT_TRUE(path.has_value()) << row.name;
        EXPECT_EQ(path->lexically_relative(kFolder).generic_u8string(), row.joined) << row.name;
    }
}

TEST(EntryOutputPath, NamesThatCouldLeaveTheFolderAreRefused) {
    const std::string refused[] = {"",          "/etc/passwd", "\\windows\\x", "..",          "../x",
                                   "a/../../x", "a/..",        "a/./b",        ". ./x",       "a/.. /x",
                                   "C:x",       "C:/x",        "d:\\x",        "file:stream", std::string("a\0b", 3),
                                   "a//b"};
    for (const auto& name : refused) EXPECT_FALSE(EntryOutputPath(kFolder, name, false).has_value()) << name;
}

// The Windows rules hold on every platform (the fuzzer drives them on Linux too).
TEST(EntryOutputPath, WindowsRulesOnEveryPlatform) {
    const struct {
        const wchar_t* name;
        bool contained;
    } table[] = {{L"dir/file.txt", true}, {L"COM\u00B9", false}, {L"a/LPT\u00B2.log", false}, {L"CONOUT$", false},
                 {L"com0", false},        {L"CON.txt", false},   {L"a\\..\\..\\x", false},    {L"\\server\\x", false},
                 {L"C:x", false},         {L"COM\u2074", true},  {L"console", true}};
    for (const auto& row : table) EXPECT_EQ(IsContainedWindowsName(row.name), row.contained) << WideToUtf8(row.name);
    EXPECT_TRUE(IsContainedPosixName("COM1"));
    EXPECT_FALSE(IsContainedPosixName("a/../../x"));
}

#ifdef _WIN32

TEST(EntryOutputPath, ReservedDeviceNamesAreRefusedOnWindows) {
    for (const char* name : {"CON", "nul.txt", "dir/Aux", "COM1.log", "lpt9", "prn .txt", "COM0", "lpt0.txt", "CONIN$",
                             "conout$.log", "dir/CONIN$ "})
        EXPECT_FALSE(EntryOutputPath(kFolder, name, false).has_value()) << name;
    // Superscript digits: Windows opens COM¹-COM³ and LPT¹-LPT³ as devices too.
    for (const char* name : {"COM\xC2\xB9", "lpt\xC2\xB3.txt", "LPT\xC2\xB2"})
        EXPECT_FALSE(EntryOutputPath(kFolder, name, true).has_value()) << name;
    for (const char* name : {"LPT10", "connect.txt", "nullable", "CONIN", "COM\xC2\xB4"})
        EXPECT_TRUE(EntryOutputPath(kFolder, name, true).has_value()) << name;
}

// Without bit 11 the name's bytes are in the ANSI code page; with it, UTF-8.
TEST(EntryOutputPath, NamesConvertByTheirEncodingFlag) {
    const std::string ansi = "caf\xE9\\men\xFC.txt";
    wchar_t expected[64] = {};
    const int length = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), expected, 64);
    ASSERT_GT(length, 0);
    const auto fromAnsi = EntryOutputPath(kFolder, ansi, false);
    ASSERT_TRUE(fromAnsi.has_value());
    EXPECT_EQ(fromAnsi->lexically_relative(kFolder).wstring(),
              fs::path(std::wstring(expected, length)).make_preferred().wstring());
    if (GetACP() == 1252) {
        EXPECT_EQ(fromAnsi->filename().wstring(), L"men\x00FC.txt");
    }

    const auto fromUtf8 = EntryOutputPath(kFolder, "caf\xC3\xA9/men\xC3\xBC.txt", true);
    ASSERT_TRUE(fromUtf8.has_value());
    EXPECT_EQ(fromUtf8->lexically_relative(kFolder).generic_wstring(), L"caf\x00E9/men\x00FC.txt");

    // The same UTF-8 bytes without the flag are two ANSI characters each, not one.
    const auto unflagged = EntryOutputPath(kFolder, "caf\xC3\xA9.txt", false);
    ASSERT_TRUE(unflagged.has_value());
    EXPECT_NE(unflagged->filename().wstring(), L"caf\x00E9.txt");
}

TEST(EntryOutputPath, WideFolderIsUsedAsItIs) {
    const std::wstring folder = L"C:\\Temp\\\x00DCn\x00EF\\Installer";
    EXPECT_EQ(NativeFolderPath(folder).wstring(), folder);
}

#else

TEST(EntryOutputPath, NameBytesAreKeptAsTheyAreOnLinux) {
    for (bool utf8 : {false, true}) {
        const auto path = EntryOutputPath(kFolder, "caf\xE9/\xC3\xBC.txt", utf8);
        ASSERT_TRUE(path.has_value());
        EXPECT_EQ(path->lexically_relative(kFolder).native(), "caf\xE9/\xC3\xBC.txt");
    }
}

TEST(EntryOutputPath, WideFolderBecomesUtf8OnLinux) {
    EXPECT_EQ(NativeFolderPath(L"/tmp/\x00DCn\x00EF").native(), "/tmp/\xC3\x9Cn\xC3\xAF");
}

#endif

}  // namespace
