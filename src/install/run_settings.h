#pragma once
// What one installation run is told before it starts: the user's choices, where its folders go and
// the download's pauses. Made once at start-up (app/configuration) and handed whole to the
// pipeline, which gives the stages their copy in the run context.
#include <optional>
#include <string>

#include "install/run_seams.h"

// The user's choices for one run, fixed before the first stage starts.
struct RunChoices {
    bool silent = false;
    bool use32Bit = false;
    std::string user;                  // UTF-8, may be empty
    std::string installPath;           // UTF-8, already enclosed in double quotes, or empty
    std::string packageFile;           // UTF-8: the package on disk to install instead of downloading one
    std::string tag;                   // UTF-8: the tag of the program's file name, read once at start-up
    std::optional<std::string> proxy;  // the --proxy option: "direct" or host:port
};

struct RunSettings {
    RunChoices choices;
    // The log folder (temporary folder + product name + "\"), which holds the installation log
    // and which the run makes sure of before it starts; empty where there is none to check.
    std::wstring logFolder;
    // Where the run's private run folder is made; empty for the system's place
    // (PrivateFolderParent). Tests give a folder of their own.
    std::wstring runFolderParent;
    DownloadTiming timing;
};
