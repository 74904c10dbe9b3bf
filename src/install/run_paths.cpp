#include "install/run_paths.h"

std::wstring FolderOf(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

std::wstring ExtractionFolderOf(const std::wstring& packagePath) {
    return FolderOf(packagePath) + kExtractionFolderName;
}
