#include <windows.h>

#include <cstdlib>

#include "app/run_installer.h"
#include "common/log.h"

// The log is closed before the process ends: a thread still running then cannot write to it.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const int exitCode = RunInstaller(ArgumentsAsUtf8(__argc, __wargv));
    CloseLog();
    return exitCode;
}
