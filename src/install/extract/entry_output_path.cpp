#include "install/extract/entry_output_path.h"

#include <algorithm>
#include <array>

#include "common/text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

template <typename Char>
bool IsSeparator(Char c) {
    return c == '/' || c == '\\';
}

template <typename Segment>
bool IsOnlyDotsAndSpaces(const Segment& segment) {
    return std::all_of(segment.begin(), segment.end(), [](auto c) { return c == '.' || c == ' '; });
}

// Every segment must stay inside the folder; an empty last segment is a directory's trailing '/'.
template <typename Name, typename DeviceTest>
bool IsContainedName(const Name& name, DeviceTest isDevice) {
    using Char = typename Name::value_type;
    if (name.empty() || IsSeparator(name.front())) return false;
    if (name.find(Char(':')) != Name::npos || name.find(Char(0)) != Name::npos) return false;
    std::size_t start = 0;
    while (start < name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        const Name segment = name.substr(start, end - start);
        if (segment.empty() || IsOnlyDotsAndSpaces(segment) || isDevice(segment)) return false;
        start = end + 1;
    }
    return true;
}

wchar_t ToUpperAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

#ifdef _WIN32
std::wstring ToNative(const std::string& name, bool utf8Name) {
    if (name.empty()) return {};
    const UINT codePage = utf8Name ? CP_UTF8 : CP_ACP;
    const int length = MultiByteToWideChar(codePage, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, name.data(), static_cast<int>(name.size()), wide.data(), length);
    return wide;
}
#endif

}  // namespace

bool IsWindowsDeviceName(const std::wstring& segment) {
    std::wstring stem = segment.substr(0, segment.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    std::transform(stem.begin(), stem.end(), stem.begin(), ToUpperAscii);
    static const std::array<const wchar_t*, 6> kPlain = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    if (std::any_of(kPlain.begin(), kPlain.end(), [&](const wchar_t* name) { return stem == name; })) return true;
    if (stem.size() != 4 || (stem.compare(0, 3, L"COM") != 0 && stem.compare(0, 3, L"LPT") != 0)) return false;
    const wchar_t digit = stem[3];
    return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
}

bool IsContainedWindowsName(const std::wstring& name) { return IsContainedName(name, IsWindowsDeviceName); }

bool IsContainedPosixName(const std::string& name) {
    return IsContainedName(name, [](const std::string&) { return false; });
}

std::filesystem::path NativeFolderPath(const std::wstring& folder) {
#ifdef _WIN32
    return std::filesystem::path(folder);
#else
    return std::filesystem::path(WideToUtf8(folder));
#endif
}

std::optional<std::filesystem::path> EntryOutputPath(const std::filesystem::path& folder, const std::string& name,
                                                     bool utf8Name) {
#ifdef _WIN32
    std::wstring native = ToNative(name, utf8Name);
    if (!IsContainedWindowsName(native)) return std::nullopt;
#else
    (void)utf8Name;
    std::string native = name;
    if (!IsContainedPosixName(native)) return std::nullopt;
#endif
    while (!native.empty() && IsSeparator(native.back())) native.pop_back();
    return folder / std::filesystem::path(native);
}
