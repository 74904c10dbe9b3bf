#pragma once
// One installation at a time on this machine. The first copy of the installer takes a named
// mutex for its whole life; a copy started while it is held writes no log (the running copy's
// log is left alone), still answers --help and --version, and ends an installation run at once.
#include <windows.h>

#include "common/unique_handle.h"

// The machine-wide mutex, tried without waiting. A mutex that cannot even be opened counts as
// held by someone else: a run that cannot be sure it is alone does not install.
class InstallationLock {
public:
    InstallationLock();
    ~InstallationLock();
    InstallationLock(const InstallationLock&) = delete;
    InstallationLock& operator=(const InstallationLock&) = delete;

    // True when this process owns the mutex and may write the log and install.
    bool Held() const { return m_held; }

private:
    unique_handle m_mutex;
    bool m_held = false;
};

// Marks |window| as the window of the running installation, for a second copy to find.
void MarkInstallationWindow(HWND window);
void UnmarkInstallationWindow(HWND window);

// Brings the running installation's window to the front when it is visible; false when there is
// none to show (a silent run, or its window is hidden while the product installer runs).
bool BringInstallationWindowToFront();
