#pragma once
// The installation log: one plain-text file per run, one line per call, written whole under a
// lock and flushed at once so that an abrupt end loses no completed line.

#include <cstdint>
#include <sstream>
#include <string>
#include <type_traits>

enum class LogLevel : std::int8_t {
    Note = 0,
    Warning = 1,
    Error = 2,
    Failure = 3,
};

// Opens the process-wide log on |path| (truncating it), creating its folder (one level) when it
// is missing. Only the first call has an effect; an empty path means "log.txt". A file that
// cannot be opened leaves the log silent for the rest of the process.
void OpenLog(std::wstring path);

// "dd.mm hh:mm:ss" in local time.
std::string FormatTimestamp();

// "(id:" + thread id + ")", padded after "(id:" to at least 10 characters.
std::string FormatThreadTag();
std::string FormatThreadTag(unsigned long threadId);

// The printed name of a level, including the historical spellings the log readers expect.
const char* LogLevelName(LogLevel level);

namespace log_detail {
void WriteLine(LogLevel level, const std::string& message);

inline void Append(std::ostringstream& out, const char* text) { out << (text ? text : ""); }
inline void Append(std::ostringstream& out, const std::string& text) { out << text; }
template <typename Number, typename = std::enable_if_t<std::is_integral_v<Number>>>
void Append(std::ostringstream& out, Number number) {
    static_assert(std::is_unsigned_v<Number>, "log numbers are unsigned");
    out << static_cast<unsigned long long>(number);
}
}  // namespace log_detail

// Writes one line: each piece (8-bit text or unsigned number, in decimal) in order, no separators.
template <typename... Pieces>
void Log(LogLevel level, const Pieces&... pieces) {
    std::ostringstream message;
    (log_detail::Append(message, pieces), ...);
    log_detail::WriteLine(level, message.str());
}

void LogWarning(const std::string& message);
void LogError(const std::string& message);
