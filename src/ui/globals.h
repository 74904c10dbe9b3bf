#pragma once
// The window object as a process-wide value. The cancel request and the setup program's handle
// belong to the run (install/run_context.h), which the window's pipeline owns.
#include <windows.h>


class CMainWindow;

// The one window object while it exists: set at the end of its constructor, cleared first thing
// in its destructor. Written only by the UI thread while no worker runs.
extern CMainWindow* g_mainWindow;
