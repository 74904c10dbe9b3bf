#include "install/download/build_choice.h"

#include <gtest/gtest.h>

namespace {

TEST(BuildChoice, VersionThresholdIsWindows10Build17763) {
    struct Case {
        DWORD major, build;
        bool old;
    };
    const Case cases[] = {
        {6, 1, true},      {6, 7601, true},    {6, 9600, true},    {10, 0, true},     {10, 17134, true},
        {10, 17762, true}, {10, 17763, false}, {10, 22631, false}, {11, 17000, true}, {11, 26100, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.old, IsOldWindowsVersion(c.major, c.build)) << "version " << c.major << "." << c.build;
}

TEST(BuildChoice, ThirtyTwoBitProcessorSkipsTheVersionQuery) {
    int asked = 0;
    EXPECT_TRUE(ChooseUse32Bit(PROCESSOR_ARCHITECTURE_INTEL, [&] { return ++asked, false; }));
    EXPECT_EQ(0, asked);
}

TEST(BuildChoice, SixtyFourBitProcessorFollowsTheVersion) {
    for (const WORD architecture :
         {WORD{PROCESSOR_ARCHITECTURE_AMD64}, WORD{PROCESSOR_ARCHITECTURE_ARM64}, WORD{PROCESSOR_ARCHITECTURE_IA64}}) {
        int asked = 0;
        EXPECT_TRUE(ChooseUse32Bit(architecture, [&] { return ++asked, true; })) << architecture;
        EXPECT_FALSE(ChooseUse32Bit(architecture, [&] { return ++asked, false; })) << architecture;
        EXPECT_EQ(2, asked) << architecture;
    }
}

TEST(BuildChoice, RunningSystemAnswersConsistently) {
    // Whatever Windows version the prefix reports, the query and the rule must agree with it.
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof version;
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    const auto query = reinterpret_cast<RtlGetVersionFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    ASSERT_NE(nullptr, query);
    query(&version);
    EXPECT_EQ(IsOldWindowsVersion(version.dwMajorVersion, version.dwBuildNumber), IsOldWindows());
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    EXPECT_EQ(system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL || IsOldWindows(), ChooseUse32Bit());
}

}  // namespace
