#pragma once
// Process exit codes of the installer. Numbers are fixed: deployment scripts test them.

namespace exit_code {
constexpr int kSuccess = 0;            // information run, or the product installer succeeded
constexpr int kBadCommandLine = 1;     // the command line was rejected
constexpr int kUserCancelled = 1602;   // ERROR_INSTALL_USEREXIT: the user closed the window
constexpr int kInstallFailure = 1603;  // ERROR_INSTALL_FAILURE: the run failed, or start-up failed
constexpr int kAlreadyRunning = 1618;  // ERROR_INSTALL_ALREADY_RUNNING: another copy is installing
// A run that reaches the end of the product installer ends with that program's own exit code
// (commonly 0, 3010, 1641 or 1603), except that its success becomes this one when the runtime
// redistributable asked for a restart.
constexpr int kRestartRequired = 3010;  // ERROR_SUCCESS_REBOOT_REQUIRED
}  // namespace exit_code
