#include "install/cleanup.h"

#include "common/console.h"
#include "common/log.h"
#include "common/system_error_text.h"

namespace {
constexpr DWORD kSettleMilliseconds = 200;

bool IsDotEntry(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Keeps the first failure: the one the user is told about.
void Remember(DWORD& firstError, DWORD error) {
    if (firstError == ERROR_SUCCESS) firstError = error;
}

DWORD RemoveFile(const std::wstring& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileW(path.c_str()) ? ERROR_SUCCESS : GetLastError();
}

DWORD RemoveContent(const std::wstring& folder) {
    DWORD firstError = ERROR_SUCCESS;
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : GetLastError();
    do {
        if (IsDotEntry(found.cFileName)) continue;
        const std::wstring path = folder + L"\\" + found.cFileName;
        // A link to a folder is removed as a link; what it points to is not ours.
        const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (isFolder && !isLink) {
            Remember(firstError, RemoveFolderTree(path));
        } else if (isFolder) {
            if (!RemoveDirectoryW(path.c_str())) Remember(firstError, GetLastError());
        } else {
            Remember(firstError, RemoveFile(path, found.dwFileAttributes));
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return firstError;
}
}  // namespace

DWORD RemoveFolderTree(const std::wstring& folder) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    DWORD firstError = RemoveContent(folder);
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(folder.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!RemoveDirectoryW(folder.c_str())) Remember(firstError, GetLastError());
    return firstError;
}

void CleanUpTempFiles(const std::wstring& extractionFolder, bool silent) {
    Log(LogLevel::Note, "Cleaning up temp install files");
    Sleep(kSettleMilliseconds);
    const DWORD error = RemoveFolderTree(extractionFolder);
    if (error == ERROR_SUCCESS) return;
    const std::string warning = "Unable to clean up install files. Reason: " + SystemMessageText(error);
    LogWarning(warning);
    if (silent) WriteConsoleLine(warning);
}
