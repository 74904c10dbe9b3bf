// The stage bodies run through the run's seams: no network, no programs started.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "install/download/download_stage.h"
#include "install/run_context.h"
#include "install/setup/setup_stage.h"
#include "install/window_messages.h"
#include "scratch_folder.h"
#include "test_log.h"

namespace {

// A run whose window only receives messages.
class StageTest : public testing::Test {
protected:
    StageTest() : m_window(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)) {
        run.window = m_window;
        logStart = TestLog::Text().size();
    }
    ~StageTest() override { DestroyWindow(m_window); }

    std::vector<UINT> TakePosted() {
        std::vector<UINT> posted;
        MSG message{};
        while (PeekMessageW(&message, m_window, 0, 0, PM_REMOVE))
            if (message.message != WM_INSTALL_PROGRESS) posted.push_back(message.message);
        return posted;
    }
    std::string Logged() const { return TestLog::Text().substr(logStart); }

    RunContext run;
    size_t logStart = 0;

private:
    HWND m_window;
};

using DownloadStageTest = StageTest;

TEST_F(DownloadStageTest, EndsAsTheTransferSays) {
    const struct {
        const char* name;
        bool complete;
        bool cancelDuringTransfer;
        std::vector<UINT> posted;
        const char* logged;
    } cases[] = {
        {"complete", true, false, {WM_DOWNLOAD_DONE}, "Note: Downloading finished"},
        {"failed", false, false, {WM_INSTALL_FAILED}, "Eerror: no route"},
        {"cancelled", false, true, {}, "Note: Downloading canceled"},
    };
    for (const auto& c : cases) {
        RunContext fresh;
        fresh.window = run.window;
        fresh.packagePath = L"C:\\Temp\\QuorVel\\Installer.zip";
        std::vector<std::wstring> files;
        fresh.seams.transfer = [&](const TransferRequest& request) {
            files.push_back(request.file);
            if (c.cancelDuringTransfer) fresh.cancel.Request();
            TransferResult result;
            result.outcome.kind = c.complete               ? AttemptOutcome::Kind::Succeeded
                                  : c.cancelDuringTransfer ? AttemptOutcome::Kind::Cancelled
                                                           : AttemptOutcome::Kind::Permanent;
            result.failure = "no route";
            return result;
        };
        const size_t start = TestLog::Text().size();
        DownloadStage(fresh);
        EXPECT_EQ(c.posted, TakePosted()) << c.name;
        const std::string logged = TestLog::Text().substr(start);
        EXPECT_NE(std::string::npos, logged.find(c.logged)) << c.name << ": " << logged;
        EXPECT_EQ(std::vector<std::wstring>{fresh.packagePath}, files) << c.name;
        EXPECT_EQ(c.posted == std::vector<UINT>{WM_INSTALL_FAILED} ? "no route\nCheck your Internet connection." : "",
                  fresh.TakeFailure())
            << c.name;
    }
}

// Scripted attempts: the kinds in order, the pauses the stage asked for.
struct ScriptedTransfer {
    std::vector<AttemptOutcome::Kind> kinds;
    std::vector<int> attempts;
    std::vector<long long> pauses;

    void Install(RunContext& run) {
        run.seams.transfer = [this](const TransferRequest& request) {
            attempts.push_back(request.attempt);
            TransferResult result;
            result.outcome.kind = kinds.at(attempts.size() - 1);
            result.outcome.reason = "reason " + std::to_string(request.attempt);
            result.failure = "failure " + std::to_string(request.attempt);
            return result;
        };
        run.seams.pause = [this](std::chrono::milliseconds delay) {
            pauses.push_back(delay.count());
            return true;
        };
    }
};

TEST_F(DownloadStageTest, TransientFailuresAreRetriedWithWarningsAndTheLastFailureIsShown) {
    using Kind = AttemptOutcome::Kind;
    const struct {
        const char* name;
        std::vector<Kind> kinds;
        std::vector<long long> pauses;
        std::vector<UINT> posted;
        int warnings;
        const char* shown;
    } cases[] = {
        {"drop, then success",
         {Kind::Transient, Kind::Succeeded},
         {2000},
         {WM_DOWNLOAD_RETRY, WM_DOWNLOAD_DONE},
         1,
         ""},
        {"always busy",
         {Kind::Transient, Kind::Transient, Kind::Transient, Kind::Transient},
         {2000, 4000, 8000},
         {WM_DOWNLOAD_RETRY, WM_DOWNLOAD_RETRY, WM_DOWNLOAD_RETRY, WM_INSTALL_FAILED},
         4,
         "failure 4\nCheck your Internet connection."},
        {"busy, then not found",
         {Kind::Transient, Kind::Permanent},
         {2000},
         {WM_DOWNLOAD_RETRY, WM_INSTALL_FAILED},
         2,
         "failure 2\nCheck your Internet connection."},
    };
    for (const auto& c : cases) {
        RunContext fresh;
        fresh.window = run.window;
        fresh.packagePath = L"C:\\Temp\\QuorVel\\Installer.zip";
        ScriptedTransfer script{c.kinds, {}, {}};
        script.Install(fresh);
        const size_t start = TestLog::Text().size();
        DownloadStage(fresh);
        const std::string logged = TestLog::Text().substr(start);
        EXPECT_EQ(c.pauses, script.pauses) << c.name;
        EXPECT_EQ(c.posted, TakePosted()) << c.name;
        EXPECT_EQ(c.warnings, TestLog::Count(logged, "Warning: Download attempt ")) << c.name << logged;
        EXPECT_NE(std::string::npos, logged.find("Warning: Download attempt 1 of 4 failed: reason 1")) << logged;
        EXPECT_EQ(c.shown, fresh.TakeFailure()) << c.name;
    }
}

TEST_F(DownloadStageTest, ACancelDuringThePauseEndsTheDownloadQuietly) {
    ScriptedTransfer script{{AttemptOutcome::Kind::Transient, AttemptOutcome::Kind::Succeeded}, {}, {}};
    script.Install(run);
    run.packagePath = L"C:\\Temp\\QuorVel\\Installer.zip";
    run.seams.pause = [this](std::chrono::milliseconds) {
        std::thread([this] { run.cancel.Request(); }).join();
        return !run.cancel.WaitFor(std::chrono::seconds(60));
    };
    DownloadStage(run);
    EXPECT_EQ(std::vector<int>{1}, script.attempts);
    EXPECT_EQ(std::vector<UINT>{}, TakePosted());
    EXPECT_NE(std::string::npos, Logged().find("Note: Downloading canceled")) << Logged();
}

// A stage that makes thousands of steps a second must not flood the window's queue (input would
// wait behind it), yet the bar must reach the end.
TEST_F(StageTest, AProgressBurstPostsTheFirstAndTheLastStepOnly) {
    ProgressPoster poster(run.window);
    constexpr unsigned kSteps = 5000;
    for (unsigned done = 1; done <= kSteps; ++done) poster.Post(done, kSteps);
    std::vector<WPARAM> positions;
    MSG message{};
    while (PeekMessageW(&message, run.window, WM_INSTALL_PROGRESS, WM_INSTALL_PROGRESS, PM_REMOVE))
        positions.push_back(message.wParam);
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(1u, positions.front());
    EXPECT_EQ(kSteps, positions.back());
    EXPECT_LT(positions.size(), 20u) << "one message for every 50 ms of the burst at most";
}

using SetupStageTest = StageTest;

// The unpacked folder of a package with both setup programs (one byte each: the seams start them).
std::wstring PlantSetupPrograms(const ScratchFolder& folder) {
    const std::wstring extraction = folder.WidePath() + L"\\Installer";
    CreateDirectoryW(extraction.c_str(), nullptr);
    for (const wchar_t* name : {L"vcredist.exe", L"Installer.exe"})
        std::ofstream(std::filesystem::path(extraction + L"\\" + name)).put('x');
    return extraction;
}

TEST_F(SetupStageTest, RunsBothProgramsThroughTheSeamUnlessCancelledMeanwhile) {
    ScratchFolder folder("setup-seams");
    const std::wstring extraction = PlantSetupPrograms(folder);
    run.packagePath = folder.WidePath() + L"\\Installer.zip";
    run.choices.silent = false;
    run.choices.user = "alice";
    run.choices.tag = "test";

    for (const bool cancelDuringRuntime : {false, true}) {
        RunContext stage;
        stage.window = run.window;
        stage.packagePath = run.packagePath;
        stage.choices = run.choices;
        std::vector<std::wstring> started;
        stage.seams.startProcess = [&](const std::wstring& program, wchar_t* commandLine, const std::wstring&,
                                       PROCESS_INFORMATION& info) {
            started.push_back(program.substr(program.rfind(L'\\') + 1) + L"|" + commandLine);
            if (cancelDuringRuntime) stage.cancel.Request();
            // Signalled events stand in for the process and thread: the wait on them ends at once.
            info.hProcess = CreateEventW(nullptr, TRUE, TRUE, nullptr);
            info.hThread = CreateEventW(nullptr, TRUE, TRUE, nullptr);
            return true;
        };
        SetupStage(stage);
        // The redistributable's own quoted path comes first, so the switches are its arguments.
        const std::wstring runtime = L"vcredist.exe|\"" + extraction + L"\\vcredist.exe\" /install /quiet /norestart";
        const std::vector<std::wstring> expected =
            cancelDuringRuntime ? std::vector<std::wstring>{runtime}
                                : std::vector<std::wstring>{runtime, L"Installer.exe| -i test -u alice"};
        EXPECT_EQ(expected, started) << "cancel during the runtime: " << cancelDuringRuntime;
        EXPECT_EQ(cancelDuringRuntime ? std::vector<UINT>{} : std::vector<UINT>{WM_CLOSE}, TakePosted());
        EXPECT_FALSE(stage.childProcess.Running()) << "the slot let go of the handle after the wait";
    }
}

// Every pair of the redistributable's and the product installer's exit codes: whether the product
// installer runs and what the program ends with.
TEST_F(SetupStageTest, TheSetupProgramsExitCodesDecideTheRunsExitCode) {
    ScratchFolder folder("setup-exit-codes");
    PlantSetupPrograms(folder);
    const struct {
        unsigned long runtime;
        bool installerRuns;
        int exitCodeIfInstallerSucceeds;
    } runtimes[] = {
        {0, true, 0},       {1638, true, 0},     {5100, true, 0},     {3010, true, 3010},
        {1641, true, 3010}, {1618, false, 1618}, {1603, false, 1603}, {5, false, 1603},
    };
    for (const auto& runtime : runtimes) {
        for (const unsigned long installerCode : {0UL, 3010UL, 1603UL, 2UL}) {
            RunContext stage;
            stage.window = run.window;
            stage.packagePath = folder.WidePath() + L"\\Installer.zip";
            std::vector<std::wstring> started;
            stage.seams.startProcess = [&](const std::wstring& program, wchar_t*, const std::wstring&,
                                           PROCESS_INFORMATION& info) {
                started.push_back(program.substr(program.rfind(L'\\') + 1));
                info.hProcess = CreateEventW(nullptr, TRUE, TRUE, nullptr);
                info.hThread = CreateEventW(nullptr, TRUE, TRUE, nullptr);
                return true;
            };
            stage.seams.exitCode = [&](HANDLE, unsigned long& code) {
                code = started.back() == L"Installer.exe" ? installerCode : runtime.runtime;
                return true;
            };
            SetupStage(stage);
            const std::string which = std::to_string(runtime.runtime) + "/" + std::to_string(installerCode);
            const std::vector<std::wstring> expected =
                runtime.installerRuns ? std::vector<std::wstring>{L"vcredist.exe", L"Installer.exe"}
                                      : std::vector<std::wstring>{L"vcredist.exe"};
            EXPECT_EQ(expected, started) << which;
            const int expectedCode = !runtime.installerRuns ? runtime.exitCodeIfInstallerSucceeds
                                     : installerCode == 0   ? runtime.exitCodeIfInstallerSucceeds
                                                            : static_cast<int>(installerCode);
            EXPECT_EQ(expectedCode, stage.ExitCode()) << which;
            EXPECT_NE(std::string::npos,
                      Logged().find("Note: vcredist.exe ended with exit code " + std::to_string(runtime.runtime)))
                << which;
            TakePosted();
        }
    }
    EXPECT_NE(std::string::npos, Logged().find("The runtime redistributable failed with exit code 5.")) << Logged();
}

}  // namespace
