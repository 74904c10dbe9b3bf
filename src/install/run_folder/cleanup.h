#pragma once
// Removal of what a run left: its private run folder with the package and everything unpacked.
// The log folder in the user's temporary folder, with the installation log, stays.
#ifdef _WIN32
#include <windows.h>

#include <string>

// Removes |folder| and its whole content. Read-only files are made writable first. Links met
// (junctions, symbolic links) are removed as links, never entered; a folder that turns out to be
// elsewhere than its name says is refused (ERROR_STOPPED_ON_SYMLINK). Goes on past a file it
// cannot remove and returns the first system error code met (0 when all is gone). A folder that
// does not exist is no error.
DWORD RemoveFolderTree(const std::wstring& folder);

// Logs the start, pauses briefly so that a setup program that just ended lets go of its files,
// makes one removal attempt, and warns (also on standard output in a silent run) when it failed.
// An empty |runFolder| (the run never created one) removes nothing.
void CleanUpTempFiles(const std::wstring& runFolder, bool silent);
#endif
