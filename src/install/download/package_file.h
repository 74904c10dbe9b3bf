#pragma once
// The package from a file the caller names (--package) instead of the download: a network that
// cannot reach the download address can still install.
#ifdef _WIN32
class RunContext;

// Copies the caller's package file into the run's private folder as the run's package, so that
// what is checked and unpacked is the copy, which nobody else can change; the file itself is only
// read. Posts WM_DOWNLOAD_DONE when done; a file that cannot be read fails the run with its path
// and the system's reason; a cancel ends it quietly.
void CopyPackageFile(RunContext& run);
#endif
