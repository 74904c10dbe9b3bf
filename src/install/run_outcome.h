#pragma once
// How a run ended, carried into the process exit code. The state a run's stages share lives in
// its RunContext (install/run_context.h).
#ifdef _WIN32
// How a run ended. The first decision wins.
enum class RunOutcome {
    Pending,           // nothing decided yet
    ReachedInstaller,  // the product installer was started
    Cancelled,         // the user closed the window first
    Failed,            // a stage failed: download, extraction, work folder, worker, product installer
};

int ExitCodeFor(RunOutcome outcome);
#endif
