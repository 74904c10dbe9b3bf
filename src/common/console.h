#pragma once
// The console of the process that started the installer: where help, version, parse errors and
// the lines of a silent run go.
#include <string>

// Makes standard output reach the caller. When the caller already handed over a usable output
// (a redirected file or pipe) it is kept; otherwise the parent's console is attached and
// standard output reopened on it. Writes one empty line on success. Returns false (and logs the
// reason at Error level) when there is nothing to write to.
bool AttachParentConsole();

// Releases a console attached by AttachParentConsole (no effect on a redirected output).
void FreeParentConsole();

// The caller's console for one process's output: attached on first use, released with the object.
class ParentConsole {
public:
    ParentConsole() = default;
    ~ParentConsole() {
        if (m_attached) FreeParentConsole();
    }
    ParentConsole(const ParentConsole&) = delete;
    ParentConsole& operator=(const ParentConsole&) = delete;

    // Makes standard output reach the caller; an attempt that found nothing is made again.
    void Attach() {
        if (!m_attached) m_attached = AttachParentConsole();
    }

private:
    bool m_attached = false;
};

// One line of 8-bit (UTF-8) text and a line end, flushed.
void WriteConsoleLine(const std::string& text);
// One line of wide text, written as UTF-8 so that accented status texts survive a redirection.
void WriteConsoleLine(const std::wstring& text);
