// Stands in for a program a setup package carries ("Installer.exe", "vcredist.exe",
// "vcredist_x86.exe"): its role is its own file name. It records how it was started and can be
// told to take its time or to keep a file of its folder open after it has ended.
//
// It reads "standin.cfg" from its own folder, lines of key=value:
//   log=PATH              where records go (appended, UTF-8, one tab-separated record a line)
//   ROLE.wait_ms=N        sleep N ms before ending
//   ROLE.hold=NAME        keep the file NAME of its folder open (no sharing for deletion) ...
//   ROLE.hold_ms=N        ... for N ms after this program has ended, through a helper process
//   ROLE.exit=N           exit code
//   ROLE.swap=NAME        try to write over, rename and delete the file NAME of its folder, as
//                         another program would that wants a different program started there
// Records:
//   start TAB role TAB time TAB working folder TAB command line TAB argument vector
//   end TAB role TAB time
//   released TAB role TAB time     (the helper that kept a file open let go of it)
//   swap TAB role TAB time TAB write=E,rename=E,delete=E   (E: 0 done, else the system error)
// The argument vector is CommandLineToArgvW of the command line, as "N:" followed by the N
// arguments in hexadecimal UTF-8, separated by commas (a command line may hold tabs).
//
// "standin.exe --hold-file PATH MS SHARE" keeps PATH open for reading for MS ms, shared for
// reading ("read") or not at all ("none"), as a program of the user that holds a file it planted.
// where time is milliseconds since 1601 (system time). Without a log line in the configuration
// the records go to the temporary folder's "qv-standin-log.txt".
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>

namespace {

std::wstring ModulePath() {
    wchar_t buffer[1024] = {};
    GetModuleFileNameW(nullptr, buffer, 1024);
    return buffer;
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/") + 1); }

std::wstring RoleOf(const std::wstring& path) {
    std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
    return name.substr(0, name.rfind(L'.'));
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr,
                        nullptr);
    return result;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
    return result;
}

std::map<std::string, std::string> ReadConfiguration(const std::wstring& folder) {
    std::map<std::string, std::string> values;
    std::ifstream file((folder + L"standin.cfg").c_str());
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t equals = line.find('=');
        if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

unsigned long long NowMilliseconds() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return ((static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime) / 10000;
}

class Recorder {
public:
    explicit Recorder(const std::map<std::string, std::string>& configuration) {
        const auto log = configuration.find("log");
        if (log != configuration.end()) {
            m_path = FromUtf8(log->second);
        } else {
            wchar_t temp[MAX_PATH + 1] = {};
            GetTempPathW(MAX_PATH + 1, temp);
            m_path = std::wstring(temp) + L"qv-standin-log.txt";
        }
    }
    void Write(const std::string& record) const {
        std::ofstream file(m_path.c_str(), std::ios::app | std::ios::binary);
        file << record << "\n";
    }

private:
    std::wstring m_path;
};

unsigned long Number(const std::map<std::string, std::string>& values, const std::string& key) {
    const auto found = values.find(key);
    return found == values.end() ? 0 : std::stoul(found->second);
}

// Opens |path| inheritable and hands it to a sleeping copy of this program, which keeps it open
// for |milliseconds| after this process has ended.
void HoldOpenAfterExit(const std::wstring& path, unsigned long milliseconds, const std::string& role) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, &inheritable, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    std::wstring commandLine =
        L"\"" + ModulePath() + L"\" --hold " + std::to_wstring(milliseconds) + L" " + FromUtf8(role);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr,
                       &startup, &started)) {
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    }
    CloseHandle(file);
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : bytes) {
        hex.push_back(digits[byte >> 4]);
        hex.push_back(digits[byte & 15]);
    }
    return hex;
}

// The argument vector the usual parser makes of this program's command line.
std::string ParsedArguments() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string encoded = std::to_string(arguments ? count : 0) + ":";
    for (int i = 0; arguments && i < count; ++i) encoded += (i ? "," : "") + Hex(ToUtf8(arguments[i]));
    LocalFree(arguments);
    return encoded;
}

// Tries what another program would do to have a different program started in place of |path|.
std::string TrySwap(const std::wstring& path) {
    const auto result = [](bool done) { return std::to_string(done ? 0UL : GetLastError()); };
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const std::string write = result(file != INVALID_HANDLE_VALUE);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    const std::wstring moved = path + L".moved";
    const bool renamed = MoveFileExW(path.c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    const std::string rename = result(renamed);
    if (renamed) MoveFileExW(moved.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    const std::string remove = result(DeleteFileW(path.c_str()) != FALSE);
    return "write=" + write + ",rename=" + rename + ",delete=" + remove;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 && std::wstring(argv[1]) == L"--hold-file") {
        const DWORD share = std::wstring(argv[4]) == L"read" ? FILE_SHARE_READ : 0;
        const HANDLE file =
            CreateFileW(argv[2], GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        std::printf("holding %d\n", file != INVALID_HANDLE_VALUE ? 1 : 0);
        std::fflush(stdout);
        Sleep(std::stoul(argv[3]));
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        return 0;
    }
    const std::wstring module = ModulePath();
    const std::wstring folder = FolderOf(module);
    const auto configuration = ReadConfiguration(folder);
    const Recorder recorder(configuration);
    if (argc == 4 && std::wstring(argv[1]) == L"--hold") {  // the helper of HoldOpenAfterExit
        Sleep(std::stoul(argv[2]));
        recorder.Write("released\t" + ToUtf8(argv[3]) + "\t" + std::to_string(NowMilliseconds()));
        return 0;
    }
    const std::string role = ToUtf8(RoleOf(module));

    wchar_t workingFolder[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH + 1, workingFolder);
    recorder.Write("start\t" + role + "\t" + std::to_string(NowMilliseconds()) + "\t" + ToUtf8(workingFolder) + "\t" +
                   ToUtf8(GetCommandLineW()) + "\t" + ParsedArguments());
    std::printf("stand-in %s running\n", role.c_str());
    std::fflush(stdout);

    const auto swap = configuration.find(role + ".swap");
    if (swap != configuration.end())
        recorder.Write("swap\t" + role + "\t" + std::to_string(NowMilliseconds()) + "\t" +
                       TrySwap(folder + FromUtf8(swap->second)));
    Sleep(Number(configuration, role + ".wait_ms"));
    const auto hold = configuration.find(role + ".hold");
    if (hold != configuration.end())
        HoldOpenAfterExit(folder + FromUtf8(hold->second), Number(configuration, role + ".hold_ms"), role);

    recorder.Write("end\t" + role + "\t" + std::to_string(NowMilliseconds()));
    return static_cast<int>(Number(configuration, role + ".exit"));
}
