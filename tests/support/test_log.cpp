#include "test_log.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "common/log.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

unsigned long ProcessId() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

}  // namespace

std::filesystem::path TestLog::Path() {
    return std::filesystem::temp_directory_path() / ("qv_test_log_" + std::to_string(ProcessId()) + ".txt");
}

void TestLog::Open() { OpenLog(Path().wstring()); }

std::string TestLog::Text() {
    std::ifstream file(Path(), std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    std::string text = content.str();  // lines end in CR LF on Windows
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

std::vector<std::string> TestLog::Lines() {
    std::istringstream text(Text());
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
}

int TestLog::Count(const std::string& text, const std::string& piece) {
    int count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
    return count;
}
