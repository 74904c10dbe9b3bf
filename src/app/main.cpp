#include <windows.h>

#include <cstdlib>

#include "app/run_installer.h"
#include "common/log.h"
#include "common/system_library.h"

// The log is closed before the process ends: a thread still running then cannot write to it.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything else can load a DLL: never one from the program's own folder.
    RestrictDllSearchToSystem32();
    const int exitCode = RunInstaller(ArgumentsAsUtf8(__argc, __wargv));
    CloseLog();
    return exitCode;
}
