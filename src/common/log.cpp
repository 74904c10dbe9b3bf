#include "common/log.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {

struct Logger {
    std::mutex mutex;
    std::ofstream stream;
};

// Created by the first OpenLog, before any other thread exists; kept until the process ends.
std::unique_ptr<Logger>& TheLogger() {
    static std::unique_ptr<Logger> logger;
    return logger;
}

unsigned long CurrentThreadId() {
#ifdef _WIN32
    return GetCurrentThreadId();
#else
    return static_cast<unsigned long>(syscall(SYS_gettid));
#endif
}

std::string TwoDigits(int value) {
    std::string text = std::to_string(value);
    return value < 10 ? "0" + text : text;
}

}  // namespace

void OpenLog(std::wstring path) {
    auto& logger = TheLogger();
    if (logger) return;
    logger = std::make_unique<Logger>();
    if (path.empty()) path = L"log.txt";
    const std::filesystem::path file(path);
    std::error_code ignored;
    if (file.has_parent_path() && !std::filesystem::exists(file.parent_path(), ignored))
        std::filesystem::create_directory(file.parent_path(), ignored);
    logger->stream.open(file, std::ios::out | std::ios::trunc);
}

std::string FormatTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return TwoDigits(local.tm_mday) + "." + TwoDigits(local.tm_mon + 1) + " " +
           TwoDigits(local.tm_hour) + ":" + TwoDigits(local.tm_min) + ":" + TwoDigits(local.tm_sec);
}

std::string FormatThreadTag(unsigned long threadId) {
    std::string tag = "(id:" + std::to_string(threadId) + ")";
    if (tag.size() < 10) tag.insert(4, 10 - tag.size(), ' ');
    return tag;
}

std::string FormatThreadTag() { return FormatThreadTag(CurrentThreadId()); }

const char* LogLevelName(LogLevel level) {
    switch (level) {
        case LogLevel::Note: return "Note";
        case LogLevel::Warning: return "Warning";
        case LogLevel::Error: return "Eerror";
        case LogLevel::Failure: return "Failure";
    }
    return "Uknown";
}

namespace log_detail {

void WriteLine(LogLevel level, const std::string& message) {
    auto& logger = TheLogger();
    if (!logger) return;
    const std::string tag = FormatThreadTag();
    std::lock_guard<std::mutex> lock(logger->mutex);
    logger->stream << FormatTimestamp() << ' ' << tag << ' ' << LogLevelName(level) << ": " << message
                   << '\n';
    logger->stream.flush();
}

}  // namespace log_detail

void LogWarning(const std::string& message) { Log(LogLevel::Warning, message); }
void LogError(const std::string& message) { Log(LogLevel::Error, message); }
