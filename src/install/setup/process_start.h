#pragma once
// The real start of a setup program (the startProcess seam of a run).
#ifdef _WIN32
#include <windows.h>

#include <string>

// CreateProcessW of |program| with |commandLine|, in a console of its own, from |folder| (the
// caller's folder when empty); fills |started| like CreateProcessW.
bool StartSetupProcess(const std::wstring& program, wchar_t* commandLine, const std::wstring& folder,
                       PROCESS_INFORMATION& started);
#endif
