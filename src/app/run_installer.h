#pragma once
// The installer's start-up sequence, from the command line to the end of the message loop.
#include <string>
#include <vector>

#include "app/desktop_presence.h"
#include "install/run_context.h"

// The command line as UTF-8 strings, the program path first.
std::vector<std::string> ArgumentsAsUtf8(int argc, const wchar_t* const* argv);

// Runs the whole program and returns the process exit code: 0 for --version, --help and every
// installation run unless its outcome says otherwise, 1 for a rejected command line, and
// exit_code::kInstallFailure when the window cannot be created or an unexpected error ends
// the run.
// |timing| holds the download's pauses and limits, and |desktop| tells whether anybody can see the
// window (an installation run without an interactive desktop is silent): the real ones unless the
// program is the test copy.
int RunInstaller(const std::vector<std::string>& arguments, const DownloadTiming& timing = DownloadTiming{},
                 const DesktopProbe& desktop = ProbeInteractiveDesktop);
