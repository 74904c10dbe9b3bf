#include "ui_test_log.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>

#include "common/log.h"

namespace {

std::filesystem::path TestLogPath() {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("qv_ui_test_" + std::to_string(GetCurrentProcessId())) / "log.txt";
    return path;
}

// Opens the log before any test, so that the window's own OpenLog leaves it here.
class TestLogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { OpenLog(TestLogPath().wstring()); }
};

const auto* const kRegistered = ::testing::AddGlobalTestEnvironment(new TestLogEnvironment);

}  // namespace

std::vector<std::string> TestLogLines() {
    std::ifstream in(TestLogPath());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}
