// The stage bodies run through the run's seams: no network, no programs started.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "install/download_stage.h"
#include "install/run_context.h"
#include "install/setup_stage.h"
#include "install/window_messages.h"
#include "test_folder.h"

namespace {

class LogEnvironment : public testing::Environment {
public:
    void SetUp() override { TestLog::Open(); }
};
testing::Environment* const g_logEnvironment = testing::AddGlobalTestEnvironment(new LogEnvironment);

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
            return TransferResult{c.complete, "no route"};
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

using SetupStageTest = StageTest;

TEST_F(SetupStageTest, RunsBothProgramsThroughTheSeamUnlessCancelledMeanwhile) {
    TestFolder folder(L"setup-seams");
    const std::wstring extraction = folder.Path() + L"\\Installer";
    CreateDirectoryW(extraction.c_str(), nullptr);
    for (const wchar_t* name : {L"vcredist.exe", L"Installer.exe"})
        std::ofstream(std::filesystem::path(extraction + L"\\" + name)).put('x');
    run.packagePath = folder.Path() + L"\\Installer.zip";
    run.choices.silent = false;
    run.choices.user = "alice";

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

}  // namespace
