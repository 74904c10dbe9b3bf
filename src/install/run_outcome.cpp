#include "install/run_outcome.h"

#include "common/exit_codes.h"

int ExitCodeFor(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::ReachedInstaller: return exit_code::kSuccess;
        case RunOutcome::Cancelled: return exit_code::kUserCancelled;
        case RunOutcome::Pending:  // the loop ended without any stage deciding: not a good install
        case RunOutcome::Failed: break;
    }
    return exit_code::kInstallFailure;
}
