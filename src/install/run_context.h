#pragma once
// The shared state of one installation run, handed to every stage: the cancel request (with an
// event that waits can watch), the setup program that runs now, the window's handle, the user's
// choices, the package path, and the seams through which the stages reach the outside world
// (the transfer of the package, the start of a program, pauses), so that a test can put its own
// in their place. The pipeline owns it and fills the choices and the timing in from the run's
// settings; the stage workers only read what the UI thread wrote
// before it started them, and report through it.
#ifdef _WIN32
#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>

#include "install/cancel_signal.h"
#include "install/child_process_slot.h"
#include "install/run_outcome.h"
#include "install/run_seams.h"
#include "install/run_settings.h"
#include "install/stage_host.h"

class RunContext {
public:
    // The pause waits on the cancel signal and the exit code is the system's; the other seams are
    // the pipeline's to fill in.
    RunContext();
    RunContext(const RunContext&) = delete;
    RunContext& operator=(const RunContext&) = delete;

    CancelSignal cancel;
    ChildProcessSlot childProcess;
    HWND window = nullptr;
    RunChoices choices;
    std::wstring packagePath;  // run folder + "Installer.zip"
    DownloadTiming timing;
    RunSeams seams;

    bool Cancelled() const { return cancel.IsRequested(); }
    std::wstring ExtractionFolder() const;

    // Any thread. Logs the failure; unless the run is being cancelled, marks the run failed and
    // has the UI thread show the failure (WM_INSTALL_FAILED) and close the window. Never waits on
    // the UI thread.
    // |windowsError|, when known, is the system error that caused the failure; it reaches the log
    // with the run's outcome.
    void ReportError(const std::string& message, unsigned long windowsError = 0);
    // The failure waiting to be shown, taken out (empty when there is none).
    std::string TakeFailure();
    // Any thread. The first outcome recorded stands, with the system error that caused it.
    void RecordOutcome(RunOutcome outcome, unsigned long windowsError = 0);
    RunOutcome Outcome() const { return m_outcome.load(); }
    unsigned long OutcomeError() const { return m_outcomeError.load(); }
    // Setup worker. The product installer ended with |exitCode|: recorded as the run's outcome
    // (InstallerEnded) unless another outcome came first.
    void RecordInstallerExit(unsigned long exitCode);
    // Setup worker: the redistributable asked for a restart.
    void MarkRestartPending() { m_restartPending.store(true); }
    // The process exit code for the outcome so far.
    int ExitCode() const;
    // Any thread: posts |message| to the window.
    void Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    // Worker thread: hides the window without waiting for the UI thread.
    void HideWindow() const;

private:
    std::atomic<RunOutcome> m_outcome{RunOutcome::Pending};
    std::atomic<unsigned long> m_outcomeError{0};
    std::atomic<unsigned long> m_installerExitCode{0};
    std::atomic<bool> m_restartPending{false};
    std::mutex m_failureLock;
    std::string m_failure;  // the first failure waiting to be shown
};
#endif
