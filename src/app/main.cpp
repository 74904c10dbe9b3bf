#include <windows.h>

#include <chrono>
#include <cstdlib>

#include "app/run_installer.h"

namespace {
#ifdef QV_TEST_DOWNLOAD_TIMING
// The test copy of the program only (QuorVelSetupTest.exe): short download pauses and stall limit,
// so that its end-to-end tests stay fast. The shipped program is built without this definition.
const DownloadTiming kDownloadTiming{std::chrono::milliseconds(QV_TEST_RETRY_DELAY_MS),
                                     std::chrono::milliseconds(QV_TEST_STALL_LIMIT_MS)};
#else
const DownloadTiming kDownloadTiming{};
#endif
}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return RunInstaller(ArgumentsAsUtf8(__argc, __wargv), kDownloadTiming);
}
