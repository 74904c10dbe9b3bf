#pragma once
// Folders opened without following links, for code that works with administrator rights in
// folders and must never be redirected elsewhere by a junction or a symbolic link.
#ifdef _WIN32
#include <windows.h>

#include <string>

#include "common/unique_handle.h"

// The error for a link met where a plain folder or file was expected (ERROR_STOPPED_ON_SYMLINK,
// which the MinGW headers lack).
constexpr DWORD kErrorStoppedOnLink = 681;

// Opens the folder |path| itself, not what it may link to (FILE_FLAG_OPEN_REPARSE_POINT), with
// |access| and full sharing. Invalid, with the last-error code set, when it cannot be opened.
unique_handle OpenFolderNoFollow(const std::wstring& path, DWORD access = FILE_READ_ATTRIBUTES);

// True when |folder| (opened by OpenFolderNoFollow) is a real folder at |path|: a directory, no
// reparse point, and the system's final name for it is |path| itself (so no link on the way, also
// of kinds the file system does not mark as reparse points).
bool IsRealFolderAt(HANDLE folder, const std::wstring& path);
#endif
