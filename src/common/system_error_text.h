#pragma once
#include <string>

// Turns the calling thread's last system error into a log-ready sentence:
//   "<context> failed with error <code> (0x<HEX4>): <system text>"
//   "<context> failed with error 0x<HEX8>: <system text>"   (an HRESULT or NTSTATUS)
// where a code the system has no text for gets "the system has no description of this error."
//   "<context>: operation completed successfully."   (code 0)
// An empty context reads "Last system error ..." / "Last operation completed successfully.".
// Call it right after the failing call: it reads GetLastError (errno elsewhere) first.
std::string SystemErrorText(const char* context);

// The same sentence for an explicit code, with the system's text supplied by the caller.
std::string FormatSystemError(const char* context, unsigned long code, std::string systemText);

// The system's own message for |code| in UTF-8, in the user's language, with trailing CR/LF
// removed; empty when there is none.
std::string SystemMessageText(unsigned long code);

#ifdef _WIN32
// The same from the message table of |module| (a loaded DLL such as WinINet), else the system's.
std::string ModuleMessageText(unsigned long code, const void* module);
#endif
