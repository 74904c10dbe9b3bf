#include <windows.h>

#include <cstdlib>

#include "app/run_installer.h"
#include "common/system_library.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything else can load a DLL: never one from the program's own folder.
    RestrictDllSearchToSystem32();
    return RunInstaller(ArgumentsAsUtf8(__argc, __wargv));
}
