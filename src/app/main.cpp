#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <cwchar>

#include "app/run_installer.h"
#include "common/log.h"
#include "common/system_library.h"

namespace {
#ifdef QV_TEST_DOWNLOAD_TIMING
// The test copy of the program only (QuorVelSetupTest.exe): short download pauses and stall limit,
// so that its end-to-end tests stay fast. The shipped program is built without this definition.
const DownloadTiming kDownloadTiming{std::chrono::milliseconds(QV_TEST_RETRY_DELAY_MS),
                                     std::chrono::milliseconds(QV_TEST_STALL_LIMIT_MS)};
#else
const DownloadTiming kDownloadTiming{};
#endif

#ifdef QV_TEST_DESKTOP_FROM_ENVIRONMENT
// The test copy only: QV_TEST_NO_DESKTOP_SESSION=N makes it see no interactive desktop, as in
// session N without a visible window station.
DesktopPresence DesktopFromEnvironment() {
    wchar_t session[16] = {};
    if (GetEnvironmentVariableW(L"QV_TEST_NO_DESKTOP_SESSION", session, 16) == 0) return ProbeInteractiveDesktop();
    return DesktopPresence{false, std::wcstoul(session, nullptr, 10)};
}
const DesktopProbe kDesktopProbe = DesktopFromEnvironment;
#else
const DesktopProbe kDesktopProbe = ProbeInteractiveDesktop;
#endif
}  // namespace

// The log is closed before the process ends: a thread still running then cannot write to it.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything else can load a DLL: never one from the program's own folder.
    RestrictDllSearchToSystem32();
    const int exitCode = RunInstaller(ArgumentsAsUtf8(__argc, __wargv), kDownloadTiming, kDesktopProbe);
    CloseLog();
    return exitCode;
}
