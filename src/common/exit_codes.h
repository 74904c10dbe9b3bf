#pragma once
// Process exit codes of the installer. Numbers are fixed: deployment scripts test them.

namespace exit_code {
constexpr int kSuccess = 0;            // information run, or a run that reached the product installer
constexpr int kBadCommandLine = 1;     // the command line was rejected
constexpr int kUserCancelled = 1602;   // ERROR_INSTALL_USEREXIT: the user closed the window
constexpr int kInstallFailure = 1603;  // ERROR_INSTALL_FAILURE: the run failed, or start-up failed
constexpr int kAlreadyRunning = 1618;  // ERROR_INSTALL_ALREADY_RUNNING: another copy is installing
}  // namespace exit_code
