#pragma once
// The installation run as a chain of stages, each on a worker thread of its own: download,
// extraction, setup programs. The window owns one pipeline and calls its handlers from its message
// handling (UI thread); a stage posts a message to the window when it is done, and the handler of
// that message joins the finished worker and starts the next stage. Every run ends in Close().
// The stages share one RunContext, which the pipeline owns.
#ifdef _WIN32
#include <windows.h>

#include <string>
#include <thread>

#include "install/run_folder/private_folder.h"
#include "common/unique_handle.h"
#include "install/run_context.h"
#include "install/run_settings.h"
#include "install/stage_host.h"

class InstallationPipeline {
public:
    // |settings|: the run's settings, made once at start-up; the stages get their choices and
    // timing through the run context.
    explicit InstallationPipeline(StageHost& host, RunSettings settings = {});
    ~InstallationPipeline();
    InstallationPipeline(const InstallationPipeline&) = delete;
    InstallationPipeline& operator=(const InstallationPipeline&) = delete;

    // Message handlers, UI thread only.
    void StartInstallation();  // WM_INSTALL_START: prepares the run, starts the download
    void OnDownloadDone();     // WM_DOWNLOAD_DONE: starts the extraction
    void OnExtractDone();      // WM_EXTRACT_DONE: starts the setup programs
    void OnInstallFailed();    // WM_INSTALL_FAILED: shows the failure, then closes
    void OnDownloadRetry();    // WM_DOWNLOAD_RETRY: the status line starts again
    void Close();              // WM_CLOSE: stops the chain, cleans up, posts WM_DESTROY

    // The process exit code for the run's outcome so far.
    int ExitCode() const;
    RunOutcome Outcome() const { return m_run.Outcome(); }
    bool CancelRequested() const { return m_run.Cancelled(); }
    // A silent run: the window stays hidden and its lines go to the console.
    bool Silent() const { return m_run.choices.silent; }

    // The run's shared state; tests replace its seams before the run starts.
    RunContext& Run() { return m_run; }

    // Any thread; see RunContext::ReportError.
    void ReportError(const std::string& message, unsigned long windowsError = 0);

private:
    using StageBody = void (*)(RunContext&);

    void StartStage(TextIndex line, StageBody body);
    void StartWorker(StageBody body);
    static void RunStage(StageBody body, RunContext& run, HANDLE finished);
    void JoinWorker();

    StageHost& m_host;
    std::wstring m_logFolder;        // made sure of before the run starts; empty: nothing to check
    std::wstring m_runFolderParent;  // empty: the system's place
    PrivateFolder m_runFolder;       // the package and what is unpacked from it
    RunContext m_run;
    std::thread m_worker;
    unique_handle m_workerFinished;  // set by the worker as its last act
    bool m_closing = false;          // a close is waiting for the worker
};
#endif
