#include "install/entry_output_path.h"

#include <algorithm>
#include <array>
#include <cwctype>

#include "common/text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

#ifdef _WIN32
using NativeString = std::wstring;

NativeString ToNative(const std::string& name, bool utf8Name) {
    if (name.empty()) return {};
    const UINT codePage = utf8Name ? CP_UTF8 : CP_ACP;
    const int length = MultiByteToWideChar(codePage, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, name.data(), static_cast<int>(name.size()), wide.data(), length);
    return wide;
}

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, also with an extension ("nul.txt"): Windows opens the device.
bool IsReservedDeviceName(const std::wstring& segment) {
    std::wstring stem = segment.substr(0, segment.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    std::transform(stem.begin(), stem.end(), stem.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    static const std::array<const wchar_t*, 4> kPlain = {L"CON", L"PRN", L"AUX", L"NUL"};
    if (std::any_of(kPlain.begin(), kPlain.end(), [&](const wchar_t* name) { return stem == name; })) return true;
    return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) && stem[3] >= L'1' &&
           stem[3] <= L'9';
}
#else
using NativeString = std::string;

NativeString ToNative(const std::string& name, bool) { return name; }
bool IsSeparator(char c) { return c == '/' || c == '\\'; }
bool IsReservedDeviceName(const std::string&) { return false; }
#endif

template <typename Segment>
bool IsOnlyDotsAndSpaces(const Segment& segment) {
    return std::all_of(segment.begin(), segment.end(), [](auto c) { return c == '.' || c == ' '; });
}

// Every segment must stay inside the folder; an empty last segment is a directory's trailing '/'.
bool IsContainedName(const NativeString& name) {
    if (name.empty() || IsSeparator(name.front())) return false;
    if (name.find(':') != NativeString::npos || name.find('\0') != NativeString::npos) return false;
    std::size_t start = 0;
    while (start < name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        const NativeString segment = name.substr(start, end - start);
        if (segment.empty() || IsOnlyDotsAndSpaces(segment) || IsReservedDeviceName(segment)) return false;
        start = end + 1;
    }
    return true;
}

}  // namespace

std::filesystem::path NativeFolderPath(const std::wstring& folder) {
#ifdef _WIN32
    return std::filesystem::path(folder);
#else
    return std::filesystem::path(WideToUtf8(folder));
#endif
}

std::optional<std::filesystem::path> EntryOutputPath(const std::filesystem::path& folder, const std::string& name,
                                                     bool utf8Name) {
    NativeString native = ToNative(name, utf8Name);
    if (!IsContainedName(native)) return std::nullopt;
    while (!native.empty() && IsSeparator(native.back())) native.pop_back();
    return folder / std::filesystem::path(native);
}
