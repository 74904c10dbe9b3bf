#pragma once
// Process-wide values shared between the UI thread and the installation's worker threads. The
// cancel flag and the setup program's handle belong to the run (install/run_state.h); the window
// object is the window's own.
#include <windows.h>

#include "install/run_state.h"

class CMainWindow;

// The one window object while it exists: set at the end of its constructor, cleared first thing
// in its destructor. Written only by the UI thread while no worker runs.
extern CMainWindow* g_mainWindow;
