#include "app/single_instance.h"

namespace {
// In the global namespace: one installation per machine, whichever session started it, since
// the folders it works in are machine-wide.
constexpr wchar_t kMutexName[] = L"Global\\QuorVelSetup.Installation";
constexpr wchar_t kWindowMark[] = L"QuorVelSetup.InstallationWindow";

BOOL CALLBACK FindMarkedWindow(HWND window, LPARAM found) {
    if (GetPropW(window, kWindowMark) == nullptr || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}
}  // namespace

InstallationLock::InstallationLock() : m_mutex(CreateMutexW(nullptr, FALSE, kMutexName)) {
    if (!m_mutex) return;
    // An abandoned mutex (a copy that crashed) is ours now all the same.
    const DWORD waited = WaitForSingleObject(m_mutex.get(), 0);
    m_held = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

InstallationLock::~InstallationLock() {
    if (m_held) ReleaseMutex(m_mutex.get());
}

void MarkInstallationWindow(HWND window) { SetPropW(window, kWindowMark, reinterpret_cast<HANDLE>(1)); }

void UnmarkInstallationWindow(HWND window) { RemovePropW(window, kWindowMark); }

bool BringInstallationWindowToFront() {
    HWND found = nullptr;
    EnumWindows(FindMarkedWindow, reinterpret_cast<LPARAM>(&found));
    if (found == nullptr) return false;
    if (IsIconic(found)) ShowWindow(found, SW_RESTORE);
    SetForegroundWindow(found);
    return true;
}
