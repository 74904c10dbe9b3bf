#pragma once
// The installation run as a chain of stages, each on a worker thread of its own: download,
// extraction, setup programs. The window owns one pipeline and calls its handlers from its message
// handling (UI thread); a stage posts a message to the window when it is done, and the handler of
// that message joins the finished worker and starts the next stage. Every run ends in Close().
#ifdef _WIN32
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "install/private_folder.h"
#include "install/run_state.h"
#include "install/stage_host.h"

class InstallationPipeline {
public:
    // |runFolderParent|: where the run's private folder is made; empty for the system's place
    // (PrivateFolderParent). Tests give a folder of their own.
    explicit InstallationPipeline(StageHost& host, std::wstring runFolderParent = {});
    ~InstallationPipeline();
    InstallationPipeline(const InstallationPipeline&) = delete;
    InstallationPipeline& operator=(const InstallationPipeline&) = delete;

    // Message handlers, UI thread only.
    void StartInstallation();  // WM_INSTALL_START: prepares the run, starts the download
    void OnDownloadDone();     // WM_DOWNLOAD_DONE: starts the extraction
    void OnExtractDone();      // WM_EXTRACT_DONE: starts the setup programs
    void OnInstallFailed();    // WM_INSTALL_FAILED: shows the failure, then closes
    void Close();              // WM_CLOSE: stops the chain, cleans up, posts WM_DESTROY

    // The process exit code for the run's outcome so far.
    int ExitCode() const;
    RunOutcome Outcome() const { return m_outcome.load(); }

    // For the stages. The values are fixed on the UI thread before the worker starts.
    HWND Window() const { return m_window; }
    const RunChoices& Choices() const { return m_choices; }
    const std::wstring& PackagePath() const { return m_packagePath; }
    std::wstring ExtractionFolder() const;

    // Any thread. Logs the failure; unless the run is being cancelled, marks the run failed and
    // has the UI thread show the failure and close the window. Never waits on the UI thread.
    void ReportError(const std::string& message);
    // Any thread. The first outcome recorded stands.
    void RecordOutcome(RunOutcome outcome);
    // Worker thread: hides the window without waiting for the UI thread.
    void HideWindow() const;

private:
    using StageBody = void (*)(InstallationPipeline&);

    void StartStage(TextIndex line, StageBody body);
    void StartWorker(StageBody body);
    static void RunStage(StageBody body, InstallationPipeline& run);
    void JoinWorker();

    StageHost& m_host;
    std::wstring m_runFolderParent;
    PrivateFolder m_runFolder;  // the package and what is unpacked from it
    HWND m_window = nullptr;
    RunChoices m_choices;
    std::wstring m_packagePath;
    std::thread m_worker;
    std::atomic<RunOutcome> m_outcome{RunOutcome::Pending};
    std::mutex m_failureLock;
    std::string m_failure;  // the first failure waiting to be shown
};
#endif
