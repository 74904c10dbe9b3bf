#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
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

std::filesystem::path FreshFolder(const std::string& name) {
    const auto folder =
        std::filesystem::temp_directory_path() /
        ("qv_log_test_" + name + "_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

void WriteFile(const std::filesystem::path& file, const std::string& content) {
    std::ofstream out(file, std::ios::binary);
    out << content;
}

// Local time is UTC from here on, so that a fixed moment has one expected reading.
void UseUtcAsLocalTime() {
#ifdef _WIN32
    _putenv_s("TZ", "UTC0");
    _tzset();
#else
    setenv("TZ", "UTC0", 1);
    tzset();
#endif
}

// 3 February 2026, 09:05:07 UTC: day and month differ, and the month is neither 1 nor 3, so a
// swapped field or a month off by one shows.
std::time_t FixedClock() { return 1770109507; }

class LogClockFixed : public ::testing::Test {
protected:
    void SetUp() override {
        UseUtcAsLocalTime();
        SetLogClock(FixedClock);
    }
    void TearDown() override { SetLogClock(nullptr); }
};

TEST_F(LogClockFixed, LineOfAFixedTimeReadsExactly) {
    const auto file = FreshFolder("fixed") / "installation_log.txt";
    Logger log;
    log.Open(file.wstring());
    log.Write(LogLevel::Note, "Online installation started");
    log.Write(LogLevel::Error, "Download failed");
    log.Close();
    const std::string tag = FormatThreadTag();
    EXPECT_EQ(ReadLines(file), (std::vector<std::string>{
                                   "03.02 09:05:07 " + tag + " Note: Online installation started",
                                   "03.02 09:05:07 " + tag + " Eerror: Download failed",
                               }));
}

TEST_F(LogClockFixed, MessageWithLineBreaksIsOneLinePerPart) {
    const std::string head = "03.02 09:05:07 " + FormatThreadTag() + " Eerror: ";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"Failed to extract files.\r\nCheck the package.", {"Failed to extract files.", "Check the package."}},
        {"one\ntwo\rthree", {"one", "two", "three"}},
        {"ends with a break\r\n", {"ends with a break"}},
        {"an empty part\n\nbetween", {"an empty part", "", "between"}},
        {"", {""}},
    };
    const auto folder = FreshFolder("parts");
    for (const auto& [message, parts] : cases) {
        const auto file = folder / "installation_log.txt";
        Logger log;
        log.Open(file.wstring());
        log.Write(LogLevel::Error, message);
        log.Close();
        std::vector<std::string> expected;
        for (const auto& part : parts) expected.push_back(head + part);
        EXPECT_EQ(ReadLines(file), expected) << "message: " << message;
    }
}

TEST(InstallationLog, ASecondRunReplacesTheFirstRunsLog) {
    const auto file = FreshFolder("runs") / "installation_log.txt";
    std::string older;
    for (int i = 0; i < 20; ++i) older += "an older run's line, longer than any of the lines below\r\n";
    WriteFile(file, older);
    {
        Logger firstRun;
        firstRun.Open(file.wstring());
        for (unsigned i = 0; i < 3; ++i) firstRun.Write(LogLevel::Note, "first run, line " + std::to_string(i));
        firstRun.Close();
    }
    ASSERT_EQ(ReadLines(file).size(), 3u);
    Logger secondRun;
    secondRun.Open(file.wstring());
    secondRun.Write(LogLevel::Note, "second run");
    secondRun.Close();
    const auto lines = ReadLines(file);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" Note: second run"), std::string::npos) << lines[0];
}

TEST(InstallationLog, TheLogOfTheRunBeforeIsKeptOneGeneration) {
    const auto folder = FreshFolder("previous");
    const auto file = folder / "installation_log.txt";
    const auto previous = folder / "installation_log.previous.txt";
    for (const char* run : {"first", "second", "third"}) {
        KeepPreviousLog(file.wstring(), previous.wstring());
        Logger log;
        ASSERT_TRUE(log.Open(file.wstring()));
        log.Write(LogLevel::Note, std::string(run) + " run");
        log.Close();
    }
    ASSERT_EQ(1u, ReadLines(previous).size());
    EXPECT_NE(std::string::npos, ReadLines(previous)[0].find("second run"));
    EXPECT_NE(std::string::npos, ReadLines(file)[0].find("third run"));
    KeepPreviousLog((folder / "missing.txt").wstring(), previous.wstring());
    EXPECT_NE(std::string::npos, ReadLines(previous)[0].find("second run")) << "no log, nothing moved";
}

TEST(InstallationLog, AMissingFolderIsMadeWithItsParents) {
    const auto file = FreshFolder("nested") / "a b" / "c" / "qv.log";
    Logger log;
    ASSERT_TRUE(log.Open(file.wstring()));
    log.Write(LogLevel::Note, "here");
    log.Close();
    EXPECT_EQ(1u, ReadLines(file).size());
}

TEST(InstallationLog, NothingIsWrittenAfterClose) {
    const auto file = FreshFolder("closed") / "installation_log.txt";
    Logger log;
    log.Open(file.wstring());
    log.Write(LogLevel::Note, "before the end");
    std::thread late;
    {
        std::promise<void> closed;
        auto closedSeen = closed.get_future();
        late = std::thread([&log, closedSeen = std::move(closedSeen)]() mutable {
            closedSeen.wait();
            for (int i = 0; i < 100; ++i) log.Write(LogLevel::Warning, "late line");
        });
        log.Close();
        closed.set_value();
    }
    late.join();
    log.Close();
    log.Open(file.wstring());  // a closed log stays closed
    log.Write(LogLevel::Note, "after reopening");
    const auto lines = ReadLines(file);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" Note: before the end"), std::string::npos) << lines[0];
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
TEST(InstallationLog, WritesWholeLinesFromManyThreadsIgnoresALaterOpenAndEndsAtClose) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("qv_log_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
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
    CloseLog();
    Log(LogLevel::Note, "dropped: the log is closed");
    std::thread([] { LogError("dropped: a late thread"); }).join();

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
    std::error_code removed;  // closed, the log no longer holds its file (Windows would refuse)
    std::filesystem::remove_all(folder, removed);
    EXPECT_FALSE(removed) << removed.message();
}

}  // namespace
