#include "install/setup/setup_exit_codes.h"

#include <cstdio>
#include <string>

namespace {
// The redistributable's own codes (Windows Installer's and its bootstrapper's).
constexpr unsigned long kNewerVersionInstalled = 1638;  // ERROR_PRODUCT_VERSION
constexpr unsigned long kSameVersionInstalled = 5100;   // the bootstrapper's "already installed"
constexpr unsigned long kRestartRequired = 3010;        // ERROR_SUCCESS_REBOOT_REQUIRED
constexpr unsigned long kRestartInitiated = 1641;       // ERROR_SUCCESS_REBOOT_INITIATED
constexpr unsigned long kAlreadyRunning = 1618;         // ERROR_INSTALL_ALREADY_RUNNING

std::string CodeText(unsigned long code) {
    std::string text = std::to_string(code);
    if (code > 0x7FFFFFFFUL) {
        char hex[24];
        std::snprintf(hex, sizeof hex, "0x%08lX", code);
        text += std::string(" (") + hex + ")";
    }
    return text;
}
}  // namespace

RuntimeVerdict JudgeRuntimeExitCode(unsigned long code) {
    switch (code) {
        case 0:
        case kNewerVersionInstalled:
        case kSameVersionInstalled:
            return RuntimeVerdict::GoOn;
        case kRestartRequired:
        case kRestartInitiated:
            return RuntimeVerdict::GoOnWithRestartPending;
        case kAlreadyRunning:
            return RuntimeVerdict::OtherInstallationRunning;
        default:
            return RuntimeVerdict::Failed;
    }
}

std::string ExitCodeLine(const std::string& fileName, unsigned long code) {
    return fileName + " ended with exit code " + CodeText(code);
}

std::string RuntimeFailureText(unsigned long code) {
    return "The runtime redistributable failed with exit code " + CodeText(code) + ".";
}
