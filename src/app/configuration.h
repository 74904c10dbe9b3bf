#pragma once
// Everything the program is told at start-up, worked out once: the command line's decision and
// the run's settings made from it, the program's own file name (its tag) and the environment
// (the log folder in the temporary folder).
#include <cxxopts.hpp>
#include <string>
#include <vector>

#include "app/desktop_presence.h"
#include "app/options.h"
#include "install/run_settings.h"

struct Configuration {
    CommandLineDecision decision;
    RunSettings run;
};

// The log folder in |temporaryFolder| (which ends in a backslash): the product name as a folder,
// with a trailing backslash.
std::wstring LogFolderIn(const std::wstring& temporaryFolder);

// |arguments| are UTF-8, the program path first (see DecideFromCommandLine).
Configuration Configure(cxxopts::Options& table, const std::vector<std::string>& arguments,
                        const DownloadTiming& timing);

// Nobody can answer a window or a message box without an interactive desktop: an installation
// run there is made silent, and the log says why.
void SilentWithoutDesktop(Configuration& configuration, const DesktopProbe& desktop);
