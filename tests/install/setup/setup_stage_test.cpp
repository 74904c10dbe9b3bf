#include "install/setup/setup_stage.h"

#include <gtest/gtest.h>

#include "common/text.h"
#include "install/run_paths.h"
#include "install/run_context.h"

namespace {

TEST(FileNameTag, TakesWhatFollowsTheLastUnderscoreUpToTheFirstPeriod) {
    struct Case {
        const wchar_t* path;
        const wchar_t* tag;
    };
    const Case cases[] = {
        {L"C:\\Downloads\\setup_x1.exe", L"x1"},
        {L"setup_ab12.exe", L"ab12"},
        {L"a_b_c.d.exe", L"c"},
        {L"C:\\dir\\QuorVelSetup.exe", L""},
        {L"C:\\my_dir\\QuorVelSetup.exe", L""},  // an underscore in a folder name does not count
        {L"C:/my_dir/setup_x2.exe", L"x2"},
        {L"setup_.exe", L""},
        {L"setup_tag", L"tag"},
        {L"", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(std::wstring(c.tag), FileNameTag(c.path)) << WideToUtf8(c.path);
}

TEST(FileNameTag, OfTheRunningProgram) {
    // The unit test program's own name carries an underscore: install_test.exe.
    EXPECT_EQ(L"test", GetFileNameTag());
}

TEST(InstallerArguments, PiecesInOrderEachWithALeadingBlank) {
    RunChoices everything;
    everything.silent = true;
    everything.user = "alice";
    everything.installPath = "\"C:\\Program Files\\App\"";
    EXPECT_EQ(L" -s -i x1 -u alice -p \"C:\\Program Files\\App\"", InstallerArguments(everything, L"x1"));

    EXPECT_EQ(L"", InstallerArguments(RunChoices{}, L""));

    RunChoices interactive;
    interactive.user = u8"Jos\u00E9 Mar\u00EDa";  // UTF-8 in, UTF-16 out, one argument
    EXPECT_EQ(L" -i c -u \"Jos\u00E9 Mar\u00EDa\"", InstallerArguments(interactive, L"c"));

    RunChoices emptyPath;
    emptyPath.installPath = "\"\"";
    EXPECT_EQ(L" -s -p \"\"", InstallerArguments(
                                  [&] {
                                      auto c = emptyPath;
                                      c.silent = true;
                                      return c;
                                  }(),
                                  L""));
}

TEST(RunProcess, MissingProgramIsNotStarted) {
    RunContext run;
    const std::wstring missing = L"C:\\does\\not\\exist\\Installer.exe";
    EXPECT_FALSE(RunProcess(run, missing, L"", HoldProgramFile(missing)));
    EXPECT_FALSE(run.childProcess.Running());
}

TEST(RunPaths, ExtractionFolderIsTheSameBeforeAndAfterThePackageNameIsAppended) {
    EXPECT_EQ(L"C:\\Temp\\QuorVel\\Installer", ExtractionFolderOf(L"C:\\Temp\\QuorVel\\"));
    EXPECT_EQ(L"C:\\Temp\\QuorVel\\Installer", ExtractionFolderOf(L"C:\\Temp\\QuorVel\\Installer.zip"));
    EXPECT_EQ(L"C:\\Temp\\QuorVel\\Installer\\", FolderOf(L"C:\\Temp\\QuorVel\\Installer\\Installer.exe"));
    EXPECT_EQ(L"", FolderOf(L"Installer.exe"));
}

}  // namespace
