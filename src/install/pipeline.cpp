#include "install/pipeline.h"

#include <exception>
#include <functional>
#include <system_error>
#include <utility>

#include "common/log.h"
#include "common/system_error_text.h"
#include "common/text.h"
#include "install/download/build_choice.h"
#include "install/run_folder/cleanup.h"
#include "install/download/download_stage.h"
#include "install/download/package_transfer.h"
#include "install/extract/extract_stage.h"
#include "install/run_paths.h"
#include "install/setup/process_start.h"
#include "install/setup/setup_stage.h"
#include "install/signature/run_package_check.h"
#include "install/ui_thread_wait.h"
#include "install/window_messages.h"

namespace {
// The second stage's body: the package is checked, then unpacked while it stays held unchangeable
// (from before the check until the extraction has read the last entry).
void CheckThenExtractStage(RunContext& run) {
    unique_handle checkedPackage;
    if (CheckRunPackage(run, checkedPackage)) ExtractStage(run);
}

// What the log calls a failure to make either folder, the log folder or the run folder.
constexpr char kCreatingFolder[] = "Creating work folder";

// Creates the log folder (one level) unless it exists. Empty when it is there; otherwise what
// is wrong, also when something other than a folder stands at its path, and the system error.
std::string PrepareLogFolder(const std::wstring& folder, DWORD& error) {
    error = ERROR_SUCCESS;
    if (CreateDirectoryW(folder.c_str(), nullptr)) return {};
    error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) return SystemErrorText(kCreatingFolder);
    std::wstring path = folder;
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = GetLastError();
        return SystemErrorText(kCreatingFolder);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return std::string(kCreatingFolder) + " failed: " + WideToUtf8(path) + " is a file, not a folder.";
    error = ERROR_SUCCESS;
    return {};
}
}  // namespace

InstallationPipeline::InstallationPipeline(StageHost& host, RunSettings settings)
    : m_host(host), m_logFolder(std::move(settings.logFolder)), m_runFolderParent(std::move(settings.runFolderParent)) {
    m_run.choices = std::move(settings.choices);
    m_run.timing = settings.timing;
    // The real network and process start; tests replace them through Run().seams.
    m_run.seams.transfer = TransferPackage;
    m_run.seams.startProcess = StartSetupProcess;
}

InstallationPipeline::~InstallationPipeline() {
    // The close handling has joined the last worker; this only guards an abnormal end.
    if (m_worker.joinable()) {
        m_run.cancel.Request();
        m_worker.join();
    }
}

void InstallationPipeline::StartInstallation() {
    if (m_run.Cancelled()) return;
    m_run.window = m_host.WindowHandle();

    // The log folder holds the installation log; something else standing at its path is reported
    // as what it is.
    DWORD folderError = ERROR_SUCCESS;
    const std::string folderProblem = m_logFolder.empty() ? std::string() : PrepareLogFolder(m_logFolder, folderError);
    if (!folderProblem.empty()) {
        m_host.ShowCancelButton();
        ReportError(folderProblem, folderError);
        return;
    }

    // A fresh private folder for the package and what is unpacked: nothing that another program
    // could have left or could change is ever run. Made before the window changes, so that the
    // moment this takes falls before the Cancel button appears, not between its parts.
    const std::wstring parent = m_runFolderParent.empty() ? PrivateFolderParent() : m_runFolderParent;
    if (!parent.empty()) RemoveAbandonedRunFolders(parent);
    const bool haveRunFolder = !parent.empty() && m_runFolder.Create(parent);
    const DWORD runFolderError = haveRunFolder ? ERROR_SUCCESS : GetLastError();
    const std::string folderFailure = haveRunFolder ? std::string() : SystemErrorText(kCreatingFolder);
    m_host.ShowCancelButton();
    if (!haveRunFolder) {
        ReportError(folderFailure, runFolderError);
        return;
    }
    m_run.packagePath = m_runFolder.Path() + L"\\" + kPackageFileName;
    if (!m_run.choices.use32Bit) m_run.choices.use32Bit = ChooseUse32Bit();

    m_host.SetStatusText(m_host.Text(TEXT_FETCHING));
    Log(LogLevel::Note, "Online installation started");
    StartWorker(DownloadStage);
}

void InstallationPipeline::OnDownloadDone() {
    if (m_run.Cancelled()) return;
    StartStage(TEXT_EXTRACTING, CheckThenExtractStage);
}

void InstallationPipeline::OnExtractDone() {
    if (m_run.Cancelled()) return;
    StartStage(TEXT_PREPARING, SetupStage);
}

void InstallationPipeline::OnInstallFailed() {
    if (m_run.Cancelled()) return;
    const std::string message = m_run.TakeFailure();
    if (message.empty()) return;
    m_host.ShowFailure(message);
    PostMessageW(m_host.WindowHandle(), WM_CLOSE, 0, 0);
}

void InstallationPipeline::OnDownloadRetry() {
    if (m_run.Cancelled()) return;
    m_host.SetStatusText(m_host.Text(TEXT_FETCHING));
}

void InstallationPipeline::Close() {
    // A close that comes while this one waits for the worker (a second Alt+F4) changes nothing.
    if (m_closing) return;
    m_closing = true;
    Log(LogLevel::Note, "Closing...");
    m_run.cancel.Request();
    m_run.RecordOutcome(RunOutcome::Cancelled);
    // A setup program may still run: it is not terminated, and the worker waiting for it closes
    // its handle when it has ended. Meanwhile the window keeps answering ("Closing..." stays
    // painted).
    if (m_worker.joinable() && m_workerFinished) WaitPumpingMessages(m_workerFinished.get());
    JoinWorker();
    m_closing = false;
    if (m_run.Outcome() == RunOutcome::Failed && m_run.OutcomeError() != 0) {
        const unsigned long error = m_run.OutcomeError();
        LogError(FormatSystemError("The installation", error, SystemMessageText(error)));
    }
    m_runFolder.ReleaseLock();
    CleanUpTempFiles(m_runFolder.Path(), m_run.choices.silent);
    // The outcome cannot change any more: what the process will end with.
    Log(LogLevel::Note, "Exit code: ", std::to_string(ExitCode()));
    PostMessageW(m_host.WindowHandle(), WM_DESTROY, 0, 0);
}

int InstallationPipeline::ExitCode() const { return m_run.ExitCode(); }

void InstallationPipeline::ReportError(const std::string& message, unsigned long windowsError) {
    if (!m_run.window) m_run.window = m_host.WindowHandle();
    m_run.ReportError(message, windowsError);
}

void InstallationPipeline::StartStage(TextIndex line, StageBody body) {
    JoinWorker();  // the worker that posted the message being handled is finishing
    m_host.SetStatusText(m_host.Text(line));
    StartWorker(body);
}

void InstallationPipeline::StartWorker(StageBody body) {
    m_workerFinished.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    try {
        m_worker = std::thread(RunStage, body, std::ref(m_run), m_workerFinished.get());
    } catch (const std::system_error& error) {
        ReportError(std::string("Starting the installation worker failed: ") + error.what());
    }
}

// The whole body of a worker thread. An exception must not end the process from a worker: it
// fails the run like any other stage failure.
void InstallationPipeline::RunStage(StageBody body, RunContext& run, HANDLE finished) {
    try {
        body(run);
    } catch (const std::exception& error) {
        run.ReportError(std::string("Unexpected error in the installation: ") + error.what());
    } catch (...) {
        run.ReportError("Unexpected error in the installation");
    }
    if (finished) SetEvent(finished);
}

void InstallationPipeline::JoinWorker() {
    if (m_worker.joinable()) m_worker.join();
}
