#include "install/setup/setup_exit_codes.h"

#include <gtest/gtest.h>

namespace {

TEST(RuntimeExitCode, DecidesWhetherTheProductInstallerRuns) {
    const struct {
        unsigned long code;
        RuntimeVerdict verdict;
    } table[] = {
        {0, RuntimeVerdict::GoOn},
        {1638, RuntimeVerdict::GoOn},
        {5100, RuntimeVerdict::GoOn},
        {3010, RuntimeVerdict::GoOnWithRestartPending},
        {1641, RuntimeVerdict::GoOnWithRestartPending},
        {1618, RuntimeVerdict::OtherInstallationRunning},
        {1603, RuntimeVerdict::Failed},
        {5, RuntimeVerdict::Failed},
        {1, RuntimeVerdict::Failed},
        {0xC0000005UL, RuntimeVerdict::Failed},
    };
    for (const auto& row : table) EXPECT_EQ(row.verdict, JudgeRuntimeExitCode(row.code)) << row.code;
}

TEST(RuntimeExitCode, LinesGiveLargeCodesInHexadecimalToo) {
    EXPECT_EQ("Installer.exe ended with exit code 3010", ExitCodeLine("Installer.exe", 3010));
    EXPECT_EQ("vcredist.exe ended with exit code 2147483647", ExitCodeLine("vcredist.exe", 0x7FFFFFFFUL));
    EXPECT_EQ("vcredist.exe ended with exit code 3221225477 (0xC0000005)", ExitCodeLine("vcredist.exe", 0xC0000005UL));
    EXPECT_EQ("The runtime redistributable failed with exit code 1603.", RuntimeFailureText(1603));
    EXPECT_EQ("The runtime redistributable failed with exit code 2148270088 (0x800C0008).",
              RuntimeFailureText(0x800C0008UL));
}

}  // namespace
