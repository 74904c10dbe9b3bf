#pragma once
// The test program's installation log: one file in the temporary folder, opened before the first
// test (so that every line the code under test logs lands there), and read back by the tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

class TestLog {
public:
    static std::filesystem::path Path();
    static void Open();
    // Everything logged so far, lines ending in a bare line feed.
    static std::string Text();
    // The lines logged so far, without their line ends.
    static std::vector<std::string> Lines();
    // How often |piece| stands in |text|.
    static int Count(const std::string& text, const std::string& piece);
};

class TestLogEnvironment : public testing::Environment {
public:
    void SetUp() override { TestLog::Open(); }
};
// One registration for the whole test program, whichever of its files include this header.
inline testing::Environment* const g_testLogEnvironment = testing::AddGlobalTestEnvironment(new TestLogEnvironment);
