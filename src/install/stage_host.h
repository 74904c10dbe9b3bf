#pragma once
// What the installation stages need of the window. CMainWindow implements it; tests can supply
// their own. Everything here may be called from a worker thread unless noted.
#ifdef _WIN32
#include <windows.h>

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
    std::string user;         // UTF-8, may be empty
    std::string installPath;  // UTF-8, already enclosed in double quotes, or empty
};

class StageHost {
public:
    virtual ~StageHost() = default;
    virtual HWND WindowHandle() const = 0;
    virtual const RunChoices& Choices() const = 0;
    virtual std::wstring Text(TextIndex index) const = 0;
    // Logs |message| at Error level and, unless the run is being cancelled, shows it to the user
    // and closes the window. Must never wait on a UI thread that is joining the caller.
    virtual void ReportError(const std::string& message) = 0;
    // Hides the window for the rest of the run (the product installer takes over the screen).
    virtual void HideWindow() = 0;
};
#endif
