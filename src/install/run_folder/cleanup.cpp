#include "install/run_folder/cleanup.h"

#include "common/console.h"
#include "common/log.h"
#include "common/system_error_text.h"
#include "common/unique_handle.h"
#include "common/folder_handle.h"

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

// A link is removed as a link; what it points to is not ours and is never entered.
DWORD RemoveLink(const std::wstring& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return RemoveFile(path, attributes);
    return RemoveDirectoryW(path.c_str()) ? ERROR_SUCCESS : GetLastError();
}

DWORD RemoveContent(const std::wstring& folder) {
    DWORD firstError = ERROR_SUCCESS;
    WIN32_FIND_DATAW found{};
    const unique_find_handle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!search) return GetLastError() == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : GetLastError();
    do {
        if (IsDotEntry(found.cFileName)) continue;
        const std::wstring path = folder + L"\\" + found.cFileName;
        const DWORD attributes = found.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            Remember(firstError, RemoveLink(path, attributes));
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            Remember(firstError, RemoveFolderTree(path));
        } else {
            Remember(firstError, RemoveFile(path, attributes));
        }
    } while (FindNextFileW(search.get(), &found));
    return firstError;
}
}  // namespace

DWORD RemoveFolderTree(const std::wstring& folder) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return RemoveLink(folder, attributes);
    DWORD firstError = ERROR_SUCCESS;
    {
        // Held while the content goes, so that the folder checked is the folder emptied.
        const unique_handle opened = OpenFolderNoFollow(folder);
        if (!opened) return GetLastError();
        // A folder that leads elsewhere without being marked as a link is refused, not entered.
        if (!IsRealFolderAt(opened.get(), folder)) return kErrorStoppedOnLink;
        firstError = RemoveContent(folder);
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(folder.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!RemoveDirectoryW(folder.c_str())) Remember(firstError, GetLastError());
    return firstError;
}

void CleanUpTempFiles(const std::wstring& runFolder, bool silent) {
    Log(LogLevel::Note, "Cleaning up temp install files");
    if (runFolder.empty()) return;  // the run never got a folder of its own
    Sleep(kSettleMilliseconds);
    const DWORD error = RemoveFolderTree(runFolder);
    if (error == ERROR_SUCCESS) return;
    const std::string warning = "Unable to clean up install files. Reason: " + SystemMessageText(error);
    LogWarning(warning);
    if (silent) WriteConsoleLine(warning);
}
