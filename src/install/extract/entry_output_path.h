#pragma once
// Where an archive entry goes on disk, and whether it may go there at all.

#include <filesystem>
#include <optional>
#include <string>

// The folder given as a wide path, as the file system sees it.
std::filesystem::path NativeFolderPath(const std::wstring& folder);

// |folder| joined with the entry's normalised |name| ('/' separators). On Windows the 8-bit name
// is converted from UTF-8 when the entry says so (general purpose bit 11), otherwise with the
// ANSI code page; elsewhere its bytes are used as they are. Empty when the name could lead out
// of the folder or name a device: a leading separator, a drive letter or any colon, a segment
// made only of dots and spaces (".", ".."), an embedded zero, and on Windows a reserved device
// name (CON, NUL, COM1, COM¹, CONIN$...).
std::optional<std::filesystem::path> EntryOutputPath(const std::filesystem::path& folder, const std::string& name,
                                                     bool utf8Name);

// The rules of each platform on their own, whatever the platform this runs on (for tests and
// the fuzzer): true when the name stays inside the folder and names no device.
bool IsContainedWindowsName(const std::wstring& name);
bool IsContainedPosixName(const std::string& name);

// CON, PRN, AUX, NUL, COM0-9, COM¹²³, LPT0-9, LPT¹²³, CONIN$, CONOUT$, also with an extension
// or trailing spaces ("nul.txt", "com1 "): Windows opens the device, not a file.
bool IsWindowsDeviceName(const std::wstring& segment);
