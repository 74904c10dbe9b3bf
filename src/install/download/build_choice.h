#pragma once
// Which build of the product to install: the 32-bit one on a 32-bit processor and on Windows
// older than Windows 10 version 1809 (build 17763), the 64-bit one otherwise.
#ifdef _WIN32
#include <windows.h>

#include <functional>

// True when the version is older than major version 10, build 17763. Both tests are unsigned,
// so a later major version with a low build number still counts as old.
bool IsOldWindowsVersion(DWORD majorVersion, DWORD buildNumber);

// Asks ntdll's RtlGetVersion (which, unlike GetVersionEx, is not shimmed for compatibility).
// False when the query is not available.
bool IsOldWindows();

// The rule itself: |processorArchitecture| as GetNativeSystemInfo reports it; |isOldWindows| is
// only asked on a 64-bit capable processor.
bool ChooseUse32Bit(WORD processorArchitecture, const std::function<bool()>& isOldWindows);

// The rule applied to the running system.
bool ChooseUse32Bit();
#endif
