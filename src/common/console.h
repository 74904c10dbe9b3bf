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

// One line of 8-bit (UTF-8) text and a line end, flushed.
void WriteConsoleLine(const std::string& text);
// One line of wide text, written as UTF-8 so that accented status texts survive a redirection.
void WriteConsoleLine(const std::wstring& text);
