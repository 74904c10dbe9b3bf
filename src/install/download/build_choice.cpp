#include "install/download/build_choice.h"

namespace {
constexpr DWORD kFirstNewMajorVersion = 10;
constexpr DWORD kFirstNewBuildNumber = 17763;

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);
}  // namespace

bool IsOldWindowsVersion(DWORD majorVersion, DWORD buildNumber) {
    return majorVersion < kFirstNewMajorVersion || buildNumber < kFirstNewBuildNumber;
}

bool IsOldWindows() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) return false;
    const FARPROC address = GetProcAddress(ntdll, "RtlGetVersion");
    if (!address) return false;
    // Through the generic function pointer type, which may be cast to any other.
    const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void (*)()>(address));
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof version;
    rtlGetVersion(&version);
    return IsOldWindowsVersion(version.dwMajorVersion, version.dwBuildNumber);
}

bool ChooseUse32Bit(WORD processorArchitecture, const std::function<bool()>& isOldWindows) {
    if (processorArchitecture == PROCESSOR_ARCHITECTURE_INTEL) return true;
    return isOldWindows();
}

bool ChooseUse32Bit() {
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    return ChooseUse32Bit(system.wProcessorArchitecture, [] { return IsOldWindows(); });
}
