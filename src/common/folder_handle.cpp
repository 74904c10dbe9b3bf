#include "common/folder_handle.h"

#include <cwctype>
#include <vector>

namespace {
constexpr wchar_t kLongPathPrefix[] = L"\\\\?\\";

// |path| in its long, full form without the "\\?\" prefix, for comparing two names of a folder.
std::wstring Normalized(std::wstring path) {
    if (path.rfind(kLongPathPrefix, 0) == 0) path.erase(0, 4);
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed != 0) {
        std::vector<wchar_t> full(needed);
        const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
        if (length != 0 && length < needed) path.assign(full.data(), length);
    }
    const DWORD longNeeded = GetLongPathNameW(path.c_str(), nullptr, 0);
    if (longNeeded != 0) {
        std::vector<wchar_t> longPath(longNeeded);
        const DWORD length = GetLongPathNameW(path.c_str(), longPath.data(), longNeeded);
        if (length != 0 && length < longNeeded) path.assign(longPath.data(), length);
    }
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    for (wchar_t& character : path) character = static_cast<wchar_t>(std::towupper(character));
    return path;
}

std::wstring FinalPathOf(HANDLE file) {
    const DWORD needed = GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (needed == 0) return {};
    std::vector<wchar_t> name(needed + 1);
    const DWORD length =
        GetFinalPathNameByHandleW(file, name.data(), needed + 1, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return length == 0 || length > needed ? std::wstring() : std::wstring(name.data(), length);
}
}  // namespace

unique_handle OpenFolderNoFollow(const std::wstring& path, DWORD access) {
    return unique_handle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                     nullptr));
}

bool IsRealFolderAt(HANDLE folder, const std::wstring& path) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(folder, &information)) return false;
    const DWORD attributes = information.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
    const std::wstring finalPath = FinalPathOf(folder);
    return !finalPath.empty() && Normalized(finalPath) == Normalized(path);
}
