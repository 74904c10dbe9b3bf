#include "install/setup/process_start.h"

bool StartSetupProcess(const std::wstring& program, wchar_t* commandLine, const std::wstring& folder,
                       PROCESS_INFORMATION& started) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    return CreateProcessW(program.c_str(), commandLine, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &started) != FALSE;
}
