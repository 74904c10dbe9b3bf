#include "install/pipeline.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/exit_codes.h"
#include "install/window_messages.h"
#include "scratch_folder.h"
#include "test_log.h"

namespace {

// A window that only receives messages, standing in for the dialog, and a host that records what
// the pipeline asked of the window.
class FakeHost : public StageHost {
public:
    FakeHost() : m_window(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)) {}
    ~FakeHost() override { DestroyWindow(m_window); }

    HWND WindowHandle() const override { return m_window; }
    std::wstring Text(TextIndex index) const override { return L"line " + std::to_wstring(index); }
    void SetStatusText(std::wstring text) override { statusTexts.push_back(text); }
    void ShowCancelButton() override { ++cancelButtonShown; }
    void ShowFailure(const std::string& message) override { failures.push_back(message); }

    // The messages posted to the window so far, removed from its queue.
    std::vector<UINT> TakePosted() {
        std::vector<UINT> posted;
        MSG message{};
        while (PeekMessageW(&message, m_window, 0, 0, PM_REMOVE)) posted.push_back(message.message);
        return posted;
    }

    std::vector<std::wstring> statusTexts;
    int cancelButtonShown = 0;
    std::vector<std::string> failures;

private:
    HWND m_window;
};

class PipelineTest : public testing::Test {
protected:
    void SetUp() override { logStart = TestLog::Text().size(); }
    std::string Logged() const { return TestLog::Text().substr(logStart); }

    FakeHost host;
    size_t logStart = 0;
};

TEST_F(PipelineTest, FailureIsShownOnTheUiThreadThenTheWindowCloses) {
    InstallationPipeline pipeline(host);
    pipeline.ReportError("Failed to extract files.");
    EXPECT_EQ(std::vector<UINT>{WM_INSTALL_FAILED}, host.TakePosted());
    EXPECT_TRUE(host.failures.empty()) << "a worker never shows the failure itself";
    EXPECT_EQ(exit_code::kInstallFailure, pipeline.ExitCode());
    EXPECT_NE(std::string::npos, Logged().find("Eerror: Failed to extract files.")) << Logged();

    pipeline.OnInstallFailed();
    EXPECT_EQ(std::vector<std::string>{"Failed to extract files."}, host.failures);
    EXPECT_EQ(std::vector<UINT>{WM_CLOSE}, host.TakePosted());

    pipeline.Close();
    EXPECT_EQ(exit_code::kInstallFailure, pipeline.ExitCode()) << "the failure came first";
}

TEST_F(PipelineTest, CloseRunsInOrderAndEndsTheRunAsCancelled) {
    InstallationPipeline pipeline(host);
    pipeline.Close();
    EXPECT_TRUE(pipeline.CancelRequested());
    EXPECT_EQ(std::vector<UINT>{WM_DESTROY}, host.TakePosted());
    EXPECT_EQ(exit_code::kUserCancelled, pipeline.ExitCode());
    const std::string logged = Logged();
    const size_t closing = logged.find("Note: Closing...");
    const size_t cleaning = logged.find("Note: Cleaning up temp install files");
    ASSERT_NE(std::string::npos, closing) << logged;
    ASSERT_NE(std::string::npos, cleaning) << logged;
    EXPECT_LT(closing, cleaning) << logged;
}

TEST_F(PipelineTest, NothingStartsOrShowsAfterTheClose) {
    InstallationPipeline pipeline(host);
    pipeline.Close();
    host.TakePosted();

    pipeline.ReportError("late failure");
    pipeline.OnDownloadDone();
    pipeline.OnExtractDone();
    pipeline.OnInstallFailed();
    pipeline.StartInstallation();
    EXPECT_TRUE(host.TakePosted().empty());
    EXPECT_TRUE(host.statusTexts.empty());
    EXPECT_TRUE(host.failures.empty());
    EXPECT_EQ(0, host.cancelButtonShown);
    EXPECT_EQ(exit_code::kUserCancelled, pipeline.ExitCode());
    EXPECT_NE(std::string::npos, Logged().find("Eerror: late failure")) << "still logged";

    pipeline.Close();  // a second close crossing the first: runs again, harmlessly
    EXPECT_EQ(std::vector<UINT>{WM_DESTROY}, host.TakePosted());
}

TEST(ChildProcessSlot, OwnsTheHandleUntilTheWaitHasEnded) {
    HANDLE child = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &child, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    RunContext run;
    EXPECT_EQ(child, run.childProcess.Hold(unique_handle(child)));
    EXPECT_TRUE(run.childProcess.Running());
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(child, &flags)) << "held, not closed";
    run.childProcess.Release();
    EXPECT_FALSE(run.childProcess.Running());
    EXPECT_FALSE(GetHandleInformation(child, &flags)) << "closed once the wait is over";
}

TEST_F(PipelineTest, RunFolderThatCannotBeCreatedFailsTheRun) {
    RunSettings settings;
    settings.runFolderParent = L"C:\\no\\such\\parent";
    InstallationPipeline pipeline(host, settings);
    pipeline.StartInstallation();
    EXPECT_EQ(1, host.cancelButtonShown);
    EXPECT_EQ(std::vector<UINT>{WM_INSTALL_FAILED}, host.TakePosted()) << "no download started";
    EXPECT_NE(std::string::npos, Logged().find("Eerror: Creating work folder failed with error 3 (0x0003)"))
        << Logged();
    EXPECT_EQ(exit_code::kInstallFailure, pipeline.ExitCode());
    pipeline.Close();
    EXPECT_NE(std::string::npos, Logged().find("Eerror: The installation failed with error 3 (0x0003)"))
        << "the outcome carries the system error to the log: " << Logged();
}

TEST_F(PipelineTest, LogFolderPathThatIsAFileIsReportedAsOne) {
    ScratchFolder folder("log-folder-file");
    const std::wstring blocker = folder.WidePath() + L"\\QuorVel";
    CloseHandle(CreateFileW(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    RunSettings settings;
    settings.logFolder = blocker + L"\\";
    InstallationPipeline pipeline(host, settings);
    pipeline.StartInstallation();
    EXPECT_EQ(std::vector<UINT>{WM_INSTALL_FAILED}, host.TakePosted()) << "no download started";
    EXPECT_NE(std::string::npos, Logged().find("QuorVel is a file, not a folder.")) << Logged();
    EXPECT_EQ(std::string::npos, Logged().find("Check your Internet connection.")) << Logged();
    pipeline.Close();
}

}  // namespace
