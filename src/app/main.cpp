#include <windows.h>

#include <cstdlib>

#include "app/run_installer.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return RunInstaller(ArgumentsAsUtf8(__argc, __wargv)); }
