#include "install/run_context.h"

#include <utility>

#include "common/log.h"
#include "install/run_paths.h"
#include "install/window_messages.h"

RunContext::RunContext() {
    seams.pause = [this](std::chrono::milliseconds delay) { return !cancel.WaitFor(delay); };
    seams.exitCode = [](HANDLE process, unsigned long& code) {
        DWORD exitCode = 0;
        const bool known = GetExitCodeProcess(process, &exitCode) != FALSE;
        code = exitCode;
        return known;
    };
}

std::wstring RunContext::ExtractionFolder() const { return ExtractionFolderOf(packagePath); }

void RunContext::ReportError(const std::string& message, unsigned long windowsError) {
    LogError(message);
    if (Cancelled()) return;
    RecordOutcome(RunOutcome::Failed, windowsError);
    {
        std::lock_guard<std::mutex> lock(m_failureLock);
        if (m_failure.empty()) m_failure = message;
    }
    Post(WM_INSTALL_FAILED);
}

std::string RunContext::TakeFailure() {
    std::lock_guard<std::mutex> lock(m_failureLock);
    return std::exchange(m_failure, std::string());
}

void RunContext::RecordOutcome(RunOutcome outcome, unsigned long windowsError) {
    RunOutcome pending = RunOutcome::Pending;
    if (m_outcome.compare_exchange_strong(pending, outcome)) m_outcomeError.store(windowsError);
}

void RunContext::RecordInstallerExit(unsigned long exitCode) {
    // The code is in place before the outcome that makes it count; it counts for no other.
    m_installerExitCode.store(exitCode);
    RecordOutcome(RunOutcome::InstallerEnded);
}

int RunContext::ExitCode() const {
    return ExitCodeFor(m_outcome.load(), m_installerExitCode.load(), m_restartPending.load());
}

void RunContext::Post(UINT message, WPARAM wParam, LPARAM lParam) const {
    PostMessageW(window, message, wParam, lParam);
}

void RunContext::HideWindow() const {
    // ShowWindowAsync only posts the request, so a UI thread busy waiting for this worker cannot
    // block it.
    ShowWindowAsync(window, SW_HIDE);
}
