#pragma once
// What the installation pipeline needs of the window. CMainWindow implements it; tests can supply
// their own. The pipeline calls the UI-thread operations only from the window's message handlers;
// the stage workers reach the window only through its handle (posting) and never call in here.
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

class StageHost {
public:
    virtual ~StageHost() = default;

    // Any thread.
    virtual HWND WindowHandle() const = 0;

    // UI thread only.
    virtual std::wstring Text(TextIndex index) const = 0;
    // The status line (console line in a silent run); does nothing once the run is cancelled.
    virtual void SetStatusText(std::wstring text) = 0;
    // Shows the cancel button with the translated line TEXT_CANCEL.
    virtual void ShowCancelButton() = 0;
    // Tells the user of a failed run: silent run, the message on standard output; interactive
    // run, status line TEXT_ERROR, progress bar hidden, and a modal error box owned by the window
    // (returns when the user dismissed it).
    virtual void ShowFailure(const std::string& message) = 0;
};
#endif
