#include "install/run_outcome.h"

#include "common/exit_codes.h"

int ExitCodeFor(RunOutcome outcome, unsigned long installerExitCode, bool restartPending) {
    switch (outcome) {
        case RunOutcome::InstallerEnded:
            // The product installer's code unchanged, but a success still needs the restart the
            // redistributable asked for.
            if (installerExitCode == 0 && restartPending) return exit_code::kRestartRequired;
            return static_cast<int>(installerExitCode);
        case RunOutcome::Cancelled:
            return exit_code::kUserCancelled;
        case RunOutcome::OtherInstallationRunning:
            return exit_code::kAlreadyRunning;
        case RunOutcome::Pending:  // the loop ended without any stage deciding: not a good install
        case RunOutcome::Failed:
            break;
    }
    return exit_code::kInstallFailure;
}
