#pragma once
// What the setup programs' exit codes mean for the run: the redistributable's code decides
// whether the product installer runs (the product installer's code becomes the program's own, see
// install/run_outcome.h), and how either code is written in the log.
#include <string>

// How a run goes on after the runtime redistributable has ended.
enum class RuntimeVerdict {
    GoOn,                      // installed, or a same or newer version is there already
    GoOnWithRestartPending,    // installed; the machine needs a restart to finish it
    OtherInstallationRunning,  // the system is busy with another installation: try again later
    Failed,                    // anything else: the product installer must not run
};

RuntimeVerdict JudgeRuntimeExitCode(unsigned long code);

// "<fileName> ended with exit code N", a code above 0x7FFFFFFF (an NTSTATUS or HRESULT) also as
// " (0x…)".
std::string ExitCodeLine(const std::string& fileName, unsigned long code);

// "The runtime redistributable failed with exit code N." (with the hexadecimal form as above).
std::string RuntimeFailureText(unsigned long code);
