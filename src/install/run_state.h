#pragma once
// Process-wide state of one installation run, shared by the window (UI thread) and the stage
// workers. The window object itself is not reachable from here: the stages only know its handle.
#ifdef _WIN32
#include <windows.h>

#include <atomic>

// Set once, by the close handling (atomic exchange), and never cleared. Every stage, the download
// callback and every handler that starts work test it.
extern std::atomic<bool> g_cancelRequested;

// The setup program the setup stage is waiting for, or null. Whoever takes the handle out with an
// exchange (the worker after its wait, or the close handling) owns it and closes it; the close
// handling closes its catch only after it has joined the worker, so the handle is closed exactly
// once and never while a wait on it is pending.
extern std::atomic<HANDLE> g_childProcess;

// How a run ended, carried into the process exit code. The first decision wins.
enum class RunOutcome {
    Pending,           // nothing decided yet
    ReachedInstaller,  // the product installer was started
    Cancelled,         // the user closed the window first
    Failed,            // a stage failed: download, extraction, work folder, worker, product installer
};

int ExitCodeFor(RunOutcome outcome);
#endif
