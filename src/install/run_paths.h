#pragma once
// The files of one run, all derived from the package path (run folder + "Installer.zip").
#include <string>

inline constexpr wchar_t kPackageFileName[] = L"Installer.zip";
inline constexpr wchar_t kExtractionFolderName[] = L"Installer";

// The folder part of |path| up to and including its last backslash or slash; empty without one.
std::wstring FolderOf(const std::wstring& path);

// The extraction folder: the parent folder of |packagePath| joined with "Installer". The run
// folder written with its trailing backslash and the package file inside it give the same folder.
std::wstring ExtractionFolderOf(const std::wstring& packagePath);
