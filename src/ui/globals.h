#pragma once
// Process-wide values shared between the UI thread and the installation's worker threads.
#include <windows.h>

#include <atomic>

class CMainWindow;

// Set once by the close handling and never cleared; every stage polls it.
extern std::atomic<bool> g_cancelRequested;
// The one window object while it exists: set at the end of its constructor, cleared first thing
// in its destructor. Written only by the UI thread while no worker runs.
extern CMainWindow* g_mainWindow;
// The setup program being waited for, or null. Atomic so that the close handling and the setup
// stage can agree on its single release by exchanging it out.
extern std::atomic<HANDLE> g_childProcess;
