// The demo package's runtime redistributable: takes a moment, as the real one does, and records
// that it ran (and with which arguments) in the temporary folder.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
    Sleep(2500);
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    std::ofstream marker(std::filesystem::path(std::wstring(temp) + L"QuorVelDemoRuntime.txt"), std::ios::trunc);
    const std::wstring text = arguments ? arguments : L"";
    marker << "runtime installed with:" << std::string(text.begin(), text.end()) << "\n";
    return 0;
}
