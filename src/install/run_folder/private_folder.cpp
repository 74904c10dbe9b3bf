// rand_s, the C runtime's interface to the system's random number generator.
#define _CRT_RAND_S
#include <stdlib.h>

#include "install/run_folder/private_folder.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdio>
#include <memory>

#include "common/log.h"
#include "common/system_error_text.h"
#include "common/text.h"
#include "install/run_folder/cleanup.h"
#include "common/folder_handle.h"

namespace {
constexpr wchar_t kSystemTempName[] = L"\\SystemTemp";
constexpr wchar_t kOwnParentName[] = L"\\QuorVel Setup";
constexpr int kNameAttempts = 16;

struct LocalFreeDeleter {
    void operator()(void* memory) const { LocalFree(memory); }
};
using unique_descriptor = std::unique_ptr<void, LocalFreeDeleter>;

struct CoTaskMemFreeDeleter {
    void operator()(wchar_t* memory) const { CoTaskMemFree(memory); }
};

// The private descriptor in the binary form the system calls take.
unique_descriptor PrivateDescriptor() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(PrivateFolderSddl().c_str(), SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return nullptr;
    return unique_descriptor(descriptor);
}

bool CreateFolderWithPrivateDescriptor(const std::wstring& path) {
    const unique_descriptor descriptor = PrivateDescriptor();
    if (!descriptor) return false;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    return CreateDirectoryW(path.c_str(), &attributes) != FALSE;
}

bool IsExistingRealFolder(const std::wstring& path) {
    const unique_handle folder = OpenFolderNoFollow(path);
    return folder && IsRealFolderAt(folder.get(), path);
}

std::wstring ProgramDataFolder() {
    wchar_t* found = nullptr;
    const HRESULT result = SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &found);
    const std::unique_ptr<wchar_t, CoTaskMemFreeDeleter> owned(found);
    return SUCCEEDED(result) && found ? std::wstring(found) : std::wstring();
}

// An existing "%ProgramData%\QuorVel Setup" may have been made by anybody (users may create
// folders in %ProgramData%). It is used only when it is a plain folder (no link), and only after
// it has been made ours: owner Administrators, the private descriptor and nothing inherited. Who
// made it loses every right to it; what is inside is only ever removed, never run.
bool AdoptExistingParent(const std::wstring& path) {
    const unique_handle folder =
        OpenFolderNoFollow(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES);
    if (!folder || !IsRealFolderAt(folder.get(), path)) {
        const DWORD error = folder ? kErrorStoppedOnLink : GetLastError();
        Log(LogLevel::Error, "The folder ", WideToUtf8(path), " cannot be used: ", SystemMessageText(error));
        SetLastError(error);
        return false;
    }
    const unique_descriptor descriptor = PrivateDescriptor();
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!descriptor || !GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted)) return false;
    BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof administrators;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) return false;
    const DWORD applied =
        SetSecurityInfo(folder.get(), SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                        administrators, nullptr, dacl, nullptr);
    if (applied != ERROR_SUCCESS) {
        Log(LogLevel::Error, "The folder ", WideToUtf8(path), " cannot be made private: ", SystemMessageText(applied));
        SetLastError(applied);
        return false;
    }
    return true;
}

std::wstring RandomRunFolderName() {
    unsigned int high = 0;
    unsigned int low = 0;
    if (rand_s(&high) != 0 || rand_s(&low) != 0) return {};
    wchar_t digits[17] = {};
    std::swprintf(digits, 17, L"%08X%08X", high, low);
    return std::wstring(kRunFolderPrefix) + digits;
}

// True when a running process holds the lock file inside |folder|.
bool IsOwned(const std::wstring& folder) {
    // Read access takes part in the sharing check (attribute access alone would not).
    const unique_handle lock(CreateFileW((folder + L"\\" + kOwnerLockName).c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return !lock && GetLastError() == ERROR_SHARING_VIOLATION;
}
}  // namespace

std::wstring PrivateFolderSddl() {
    // Protected (P): nothing inherited from the parent. Each entry is inherited by files (OI) and
    // folders (CI) inside. FA: full control. SY: SYSTEM, BA: the Administrators group.
    return L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
}

std::wstring PrivateFolderParent() {
    wchar_t windows[MAX_PATH + 1] = {};
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH + 1);
    if (length != 0 && length <= MAX_PATH) {
        const std::wstring systemTemp = std::wstring(windows, length) + kSystemTempName;
        if (IsExistingRealFolder(systemTemp)) return systemTemp;
    }
    const std::wstring programData = ProgramDataFolder();
    if (programData.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return {};
    }
    const std::wstring ownParent = programData + kOwnParentName;
    if (CreateFolderWithPrivateDescriptor(ownParent)) return ownParent;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
    return AdoptExistingParent(ownParent) ? ownParent : std::wstring();
}

bool PrivateFolder::Create(const std::wstring& parent) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::wstring name = RandomRunFolderName();
        if (name.empty()) return false;
        const std::wstring path = parent + L"\\" + name;
        if (!CreateFolderWithPrivateDescriptor(path)) {
            if (GetLastError() == ERROR_ALREADY_EXISTS) continue;  // never one that was there before
            return false;
        }
        // Deleted by the system when the handle closes, also when the process dies.
        unique_handle lock(CreateFileW((path + L"\\" + kOwnerLockName).c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (!lock) {
            const DWORD error = GetLastError();
            RemoveFolderTree(path);
            SetLastError(error);
            return false;
        }
        m_path = path;
        m_lock = std::move(lock);
        return true;
    }
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
}

unsigned RemoveAbandonedRunFolders(const std::wstring& parent) {
    unsigned removed = 0;
    WIN32_FIND_DATAW found{};
    const unique_find_handle search(FindFirstFileW((parent + L"\\" + kRunFolderPrefix + L"*").c_str(), &found));
    if (!search) return removed;
    do {
        const std::wstring folder = parent + L"\\" + found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || IsOwned(folder)) continue;
        Log(LogLevel::Note, "Removing the folder of an earlier run: ", WideToUtf8(folder));
        const DWORD error = RemoveFolderTree(folder);
        if (error == ERROR_SUCCESS) {
            ++removed;
        } else {
            LogWarning("Unable to remove " + WideToUtf8(folder) + ". Reason: " + SystemMessageText(error));
        }
    } while (FindNextFileW(search.get(), &found));
    return removed;
}
