#include "common/log.h"

#include <atomic>
#include <filesystem>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include "common/folder_handle.h"
#else
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {

std::atomic<LogClock> g_clock{nullptr};

// The process's one log. It is never destroyed, so that a thread still running while the
// process exits can call Log safely (after CloseLog, or while the runtime tears down statics).
template <typename T>
class NeverDestroyed {
public:
    NeverDestroyed() { new (m_storage) T(); }
    T& get() { return *std::launder(reinterpret_cast<T*>(m_storage)); }

private:
    alignas(T) unsigned char m_storage[sizeof(T)];
};

Logger& TheLogger() {
    static NeverDestroyed<Logger> logger;
    return logger.get();
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

// The parts of |message| between its line breaks (CR LF, LF or CR); a break at the very end
// starts no part of its own. A message without breaks, the empty one too, is one part.
std::vector<std::string> LinesOf(const std::string& message) {
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < message.size(); ++i) {
        const char c = message[i];
        if (c != '\r' && c != '\n') {
            lines.back() += c;
            continue;
        }
        if (c == '\r' && i + 1 < message.size() && message[i + 1] == '\n') ++i;
        if (i + 1 < message.size()) lines.emplace_back();
    }
    return lines;
}

// The log lives in the user's own temporary folder, which any program of the user can change, while
// this process may run elevated. So the log is never written through a link: a folder that is a
// link (junction, symbolic link) is not used, and whatever stands at the file's name is removed as
// a name first (a link goes, its target stays), so the log is always a file of its own.
#ifdef _WIN32
// The folder that holds |file| is a real folder at its own path (no link on the way).
bool InRealFolder(const std::filesystem::path& file) {
    if (!file.has_parent_path()) return true;
    const std::wstring folderPath = std::filesystem::absolute(file.parent_path()).wstring();
    const unique_handle folder = OpenFolderNoFollow(folderPath);
    return folder && IsRealFolderAt(folder.get(), folderPath);
}
#endif

bool MayReplaceLogFile(const std::filesystem::path& file) {
#ifdef _WIN32
    if (!InRealFolder(file)) return false;
    if (DeleteFileW(file.c_str())) return true;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
#else
    (void)file;
    return true;
#endif
}

}  // namespace

bool Logger::Open(std::wstring path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_opened) return m_stream.is_open();
    m_opened = true;
    if (path.empty()) path = L"log.txt";
    const std::filesystem::path file(path);
    std::error_code ignored;
    if (file.has_parent_path() && !std::filesystem::exists(file.parent_path(), ignored))
        std::filesystem::create_directories(file.parent_path(), ignored);
    if (!MayReplaceLogFile(file)) return false;
    m_stream.open(file, std::ios::out | std::ios::trunc);
    return m_stream.is_open();
}

void KeepPreviousLog(const std::wstring& path, const std::wstring& previous) {
    const std::filesystem::path file(path);
#ifdef _WIN32
    if (!InRealFolder(file)) return;
    const DWORD log = GetFileAttributesW(file.c_str());
    if (log == INVALID_FILE_ATTRIBUTES || (log & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return;
    // A rename moves names only: a link standing at |previous| is replaced, never written through.
    MoveFileExW(path.c_str(), previous.c_str(), MOVEFILE_REPLACE_EXISTING);
#else
    std::error_code ignored;
    if (std::filesystem::is_symlink(file.parent_path(), ignored) ||
        !std::filesystem::is_regular_file(std::filesystem::symlink_status(file, ignored)))
        return;
    std::filesystem::rename(file, previous, ignored);
#endif
}

void Logger::Write(LogLevel level, const std::string& message) {
    const std::string tag = FormatThreadTag();
    const std::vector<std::string> lines = LinesOf(message);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_stream.is_open()) return;
    for (const std::string& line : lines)
        m_stream << FormatTimestamp() << ' ' << tag << ' ' << LogLevelName(level) << ": " << line << '\n';
    m_stream.flush();
}

void Logger::Close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_opened = true;
    if (m_stream.is_open()) m_stream.close();
}

bool OpenLog(std::wstring path) { return TheLogger().Open(std::move(path)); }

void CloseLog() { TheLogger().Close(); }

void SetLogClock(LogClock clock) { g_clock.store(clock); }

std::string FormatTimestamp() {
    const LogClock clock = g_clock.load();
    const std::time_t now = clock ? clock() : std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return TwoDigits(local.tm_mday) + "." + TwoDigits(local.tm_mon + 1) + " " + TwoDigits(local.tm_hour) + ":" +
           TwoDigits(local.tm_min) + ":" + TwoDigits(local.tm_sec);
}

std::string FormatThreadTag(unsigned long threadId) {
    std::string tag = "(id:" + std::to_string(threadId) + ")";
    if (tag.size() < 10) tag.insert(4, 10 - tag.size(), ' ');
    return tag;
}

std::string FormatThreadTag() { return FormatThreadTag(CurrentThreadId()); }

const char* LogLevelName(LogLevel level) {
    switch (level) {
        case LogLevel::Note:
            return "Note";
        case LogLevel::Warning:
            return "Warning";
        case LogLevel::Error:
            return "Eerror";
        case LogLevel::Failure:
            return "Failure";
    }
    return "Uknown";
}

namespace log_detail {

void WriteLine(LogLevel level, const std::string& message) { TheLogger().Write(level, message); }

}  // namespace log_detail

void LogWarning(const std::string& message) { Log(LogLevel::Warning, message); }
void LogError(const std::string& message) { Log(LogLevel::Error, message); }
