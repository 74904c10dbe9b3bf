#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/log.h"
#include "common/text.h"

namespace {

std::vector<std::string> ReadLines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(ThreadTag, PadsAfterTheColonToTenCharacters) {
    EXPECT_EQ(FormatThreadTag(123), "(id:  123)");
    EXPECT_EQ(FormatThreadTag(4120), "(id: 4120)");
    EXPECT_EQ(FormatThreadTag(12345), "(id:12345)");
    EXPECT_EQ(FormatThreadTag(123456), "(id:123456)");
    EXPECT_EQ(FormatThreadTag(7), "(id:    7)");
}

TEST(LevelNames, KeepTheirPrintedSpellings) {
    EXPECT_STREQ(LogLevelName(LogLevel::Note), "Note");
    EXPECT_STREQ(LogLevelName(LogLevel::Warning), "Warning");
    EXPECT_STREQ(LogLevelName(LogLevel::Error), "Eerror");
    EXPECT_STREQ(LogLevelName(LogLevel::Failure), "Failure");
    EXPECT_STREQ(LogLevelName(static_cast<LogLevel>(4)), "Uknown");
    EXPECT_STREQ(LogLevelName(static_cast<LogLevel>(-1)), "Uknown");
}

TEST(Timestamp, IsDayMonthAndTimeWithTwoDigitFields) {
    EXPECT_TRUE(std::regex_match(FormatTimestamp(), std::regex(R"(\d\d\.\d\d \d\d:\d\d:\d\d)")));
}

// The log is process-wide and opens once, so one test walks through its whole life.
TEST(InstallationLog, WritesWholeLinesFromManyThreadsAndIgnoresALaterOpen) {
    const auto folder = std::filesystem::temp_directory_path() / ("qv_log_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::remove_all(folder);
    const auto file = folder / "installation_log.txt";  // its folder does not exist yet
    Log(LogLevel::Note, "dropped: the log is not open yet");
    OpenLog(file.wstring());
    OpenLog((folder / "other.txt").wstring());

    Log(LogLevel::Note, "Unzipping ", 12u, " entries");
    Log(LogLevel::Failure, std::string("Cannot open zip file"));
    Log(static_cast<LogLevel>(7), "odd level");
    LogWarning("warned");
    LogError("failed");
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([] {
            for (unsigned i = 0; i < 200; ++i) Log(LogLevel::Note, "line ", i, " of a busy thread");
        });
    for (auto& w : writers) w.join();

    EXPECT_FALSE(std::filesystem::exists(folder / "other.txt"));
    const auto lines = ReadLines(file);
    ASSERT_EQ(lines.size(), 5u + 800u);
    const std::regex shape(R"(\d\d\.\d\d \d\d:\d\d:\d\d \(id: *\d+\) (Note|Warning|Eerror|Failure|Uknown): .*)");
    for (const auto& line : lines) {
        EXPECT_TRUE(std::regex_match(line, shape)) << line;
        EXPECT_EQ(line.find('\r'), std::string::npos) << line;
    }
    EXPECT_NE(lines[0].find(" Note: Unzipping 12 entries"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(" Failure: Cannot open zip file"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find(" Uknown: odd level"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find(" Warning: warned"), std::string::npos) << lines[3];
    EXPECT_NE(lines[4].find(" Eerror: failed"), std::string::npos) << lines[4];
    std::error_code stillOpen;  // the log stays open until the process ends (Windows refuses)
    std::filesystem::remove_all(folder, stillOpen);
}

}  // namespace
