// The demo product's "Installer.exe": copies the files of its "product" folder (next to it in the
// unpacked package) into the destination folder and leaves a receipt of what it was asked to do.
//   Installer.exe [-s] [-i TAG] [-u USER] [-p "DESTINATION"]
// Without -p it installs into "C:\Program Files\QuorVel Demo".
#include <windows.h>
#include <shellapi.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Choices {
    bool silent = false;
    std::wstring tag, user, destination = L"C:\\Program Files\\QuorVel Demo";
};

Choices ParseChoices() {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    Choices choices;
    // CreateProcessW hands over the argument text alone, so every word is an argument.
    for (int i = 0; words && i < count; ++i) {
        const std::wstring word = words[i];
        const bool hasValue = i + 1 < count;
        if (word == L"-s")
            choices.silent = true;
        else if (word == L"-i" && hasValue)
            choices.tag = words[++i];
        else if (word == L"-u" && hasValue)
            choices.user = words[++i];
        else if (word == L"-p" && hasValue)
            choices.destination = words[++i];
    }
    LocalFree(words);
    return choices;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

fs::path OwnFolder() {
    std::vector<wchar_t> buffer(MAX_PATH * 4);
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    return fs::path(std::wstring(buffer.data(), length)).parent_path();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const Choices choices = ParseChoices();
    const fs::path destination(choices.destination);
    std::error_code error;
    fs::create_directories(destination, error);
    const fs::path source = OwnFolder() / L"product";
    for (auto item = fs::recursive_directory_iterator(source, error);
         !error && item != fs::recursive_directory_iterator(); item.increment(error)) {
        const fs::path target = destination / fs::relative(item->path(), source);
        if (item->is_directory())
            fs::create_directories(target, error);
        else
            fs::copy_file(item->path(), target, fs::copy_options::overwrite_existing, error);
    }
    std::ofstream receipt(destination / L"install-receipt.txt", std::ios::trunc);
    receipt << "QuorVel Demo installed\n"
            << "command line:" << Utf8(GetCommandLineW()) << "\n"
            << "silent: " << (choices.silent ? "yes" : "no") << "\n"
            << "tag: " << Utf8(choices.tag) << "\n"
            << "user: " << Utf8(choices.user) << "\n"
            << "copy: " << (error ? error.message() : std::string("ok")) << "\n";
    return error ? 1 : 0;
}
