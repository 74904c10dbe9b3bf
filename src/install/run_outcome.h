#pragma once
// How a run ended, carried into the process exit code. The state a run's stages share lives in
// its RunContext (install/run_context.h).
#ifdef _WIN32
// How a run ended. The first decision wins.
enum class RunOutcome {
    Pending,                   // nothing decided yet
    InstallerEnded,            // the product installer ran to its end: its exit code is the run's
    Cancelled,                 // the user closed the window first
    Failed,                    // a stage failed: download, extraction, log or run folder, worker, setup program
    OtherInstallationRunning,  // the redistributable found another installation in progress
};

// |installerExitCode| and |restartPending| count for InstallerEnded only.
int ExitCodeFor(RunOutcome outcome, unsigned long installerExitCode = 0, bool restartPending = false);
#endif
