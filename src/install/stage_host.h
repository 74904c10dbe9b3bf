#pragma once
// What the installation pipeline needs of the window. CMainWindow implements it; tests can supply
// their own. The pipeline calls the UI-thread operations only from the window's message handlers;
// the stage workers reach the window only through its handle (posting) and never call in here.
#ifdef _WIN32
#include <windows.h>

#include <optional>
#include <string>

// Indices into the translated lines.
enum TextIndex : size_t {
    TEXT_ERROR = 0,
    TEXT_CANCEL = 1,
    TEXT_FETCHING = 2,
    TEXT_EXTRACTING = 3,
    TEXT_PREPARING = 4,
    TEXT_INSTALLER = 5,
    TEXT_STAGING = 6,
};

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

class StageHost {
public:
    virtual ~StageHost() = default;

    // Any thread.
    virtual HWND WindowHandle() const = 0;

    // UI thread only.
    virtual const RunChoices& Choices() const = 0;
    virtual std::wstring Text(TextIndex index) const = 0;
    // The status line (console line in a silent run); does nothing once the run is cancelled.
    virtual void SetStatusText(std::wstring text) = 0;
    // Shows the cancel button with the translated line TEXT_CANCEL.
    virtual void ShowCancelButton() = 0;
    // Tells the user of a failed run: silent run, the message on standard output; interactive
    // run, status line TEXT_ERROR, progress bar hidden, and a modal error box owned by the window
    // (returns when the user dismissed it).
    virtual void ShowFailure(const std::string& message) = 0;
    // The folder that holds the installation log (temporary folder + product name + "\"), which
    // the run makes sure of before it starts; empty where there is none to check.
    virtual std::wstring WorkFolder() const { return {}; }
};
#endif
