#pragma once
// Removal of what a run unpacked: the extraction folder and everything in it. The work folder
// with the installation log, and a package file still lying there, stay.
#ifdef _WIN32
#include <windows.h>

#include <string>

// Removes |folder| and its whole content. Read-only files are made writable first. Goes on past
// a file it cannot remove and returns the first system error code met (0 when all is gone). A
// folder that does not exist is no error.
DWORD RemoveFolderTree(const std::wstring& folder);

// Logs the start, pauses briefly so that a setup program that just ended lets go of its files,
// makes one removal attempt, and warns (also on standard output in a silent run) when it failed.
void CleanUpTempFiles(const std::wstring& extractionFolder, bool silent);
#endif
