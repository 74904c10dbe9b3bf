#pragma once
// The installation log: one plain-text file per run, one line per call (one per part of a
// message that holds line breaks), written whole under a lock and flushed at once so that an
// abrupt end loses no completed line.

#include <cstdint>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <type_traits>

enum class LogLevel : std::int8_t {
    Note = 0,
    Warning = 1,
    Error = 2,
    Failure = 3,
};

// One log file. The functions below write to the process's one Logger; tests make their own.
class Logger {
public:
    // Opens |path| for writing, replacing what an earlier run left there, and creates its folder
    // when it is missing. Only the first call has an effect, also after Close; an empty path means
    // "log.txt". A file that cannot be opened leaves this log silent. True when the log is open.
    bool Open(std::wstring path);
    // Writes |message| with the time stamp, the calling thread's tag and the level; a message
    // with line breaks becomes one such line per part. Does nothing unless the log is open.
    void Write(LogLevel level, const std::string& message);
    // Closes the file; every later Write does nothing. Safe to call from any thread, repeatedly.
    void Close();

private:
    std::mutex m_mutex;
    bool m_opened = false;  // Open has run; a second Open changes nothing
    std::ofstream m_stream;
};

// Opens the process-wide log (Logger::Open). Called once, before any other thread exists.
bool OpenLog(std::wstring path);

// Keeps the log an earlier run left at |path| as |previous| (one generation: an older one there
// is replaced). Neither name is followed when it is a link; a log that is not a plain file, or a
// folder that is a link, is left alone (the new log then replaces it as a name).
void KeepPreviousLog(const std::wstring& path, const std::wstring& previous);
// Closes the process-wide log for the rest of the process: a thread still running after the
// run's end can call Log, which then does nothing.
void CloseLog();

// Where time stamps come from: the system clock unless a test sets a fixed one (before anything
// logs from other threads). nullptr restores the system clock.
using LogClock = std::time_t (*)();
void SetLogClock(LogClock clock);

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
