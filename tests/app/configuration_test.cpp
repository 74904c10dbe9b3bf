#include "app/configuration.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>

namespace {

TEST(Configuration, TheLogFolderIsTheProductsFolderInTheTemporaryFolder) {
    EXPECT_EQ(L"C:\\Temp\\QuorVel\\", LogFolderIn(L"C:\\Temp\\"));
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    cxxopts::Options table = MakeOptionTable();
    EXPECT_EQ(LogFolderIn(temp), Configure(table, {"setup.exe"}, DownloadTiming{}).run.logFolder);
}

TEST(Configuration, TheRunGetsEveryChoiceOfTheCommandLineAndTheTiming) {
    cxxopts::Options table = MakeOptionTable();
    const DownloadTiming timing{std::chrono::milliseconds(5), std::chrono::milliseconds(7)};
    const Configuration configuration =
        Configure(table,
                  {"setup.exe", "--x86", "-s", "--user", "alice", "--path", "C:\\Program Files\\Q", "--package",
                   "C:\\p.zip", "--proxy", "direct"},
                  timing);
    const RunChoices& choices = configuration.run.choices;
    EXPECT_TRUE(choices.use32Bit);
    EXPECT_TRUE(choices.silent);
    EXPECT_EQ("alice", choices.user);
    EXPECT_EQ(configuration.decision.installPath, choices.installPath) << "quoted once, by the command line";
    EXPECT_EQ("C:\\p.zip", choices.packageFile);
    EXPECT_EQ(std::optional<std::string>("direct"), choices.proxy);
    EXPECT_EQ(timing.firstRetryDelay, configuration.run.timing.firstRetryDelay);
    EXPECT_EQ(timing.stallLimit, configuration.run.timing.stallLimit);
    EXPECT_TRUE(configuration.run.runFolderParent.empty()) << "the system's place";
}

TEST(Configuration, OnlyAnInstallationRunWithoutADesktopIsMadeSilent) {
    struct Row {
        const char* option;  // besides the program path; empty for none
        bool interactive;
        bool silentAfter;
    };
    const Row rows[] = {{"", false, true}, {"", true, false}, {"--version", false, false}, {"--help", false, false}};
    for (const Row& row : rows) {
        cxxopts::Options table = MakeOptionTable();
        std::vector<std::string> words{"setup.exe"};
        if (*row.option != '\0') words.push_back(row.option);
        Configuration configuration = Configure(table, words, DownloadTiming{});
        SilentWithoutDesktop(configuration, [&] { return DesktopPresence{row.interactive, 0}; });
        EXPECT_EQ(row.silentAfter, configuration.run.choices.silent) << row.option << " " << row.interactive;
    }
}

}  // namespace
