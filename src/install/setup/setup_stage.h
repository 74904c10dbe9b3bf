#pragma once
// Third stage: runs the runtime redistributable the package carries, then, unless its exit code
// forbids it, hides the window and runs the package's own "Installer.exe" with the user's choices,
// waiting for each. The product installer's exit code becomes the run's.
#ifdef _WIN32
#include <optional>
#include <string>

#include "common/unique_handle.h"
#include "install/run_settings.h"

class RunContext;

// The tag in a program file name: what follows the last underscore of the file name, cut at the
// first period after it ("setup_ab12.exe" gives "ab12", "a_b_c.d.exe" gives "c"); empty without
// an underscore. |modulePath| may be a full path.
std::wstring FileNameTag(const std::wstring& modulePath);

// The tag of the running program's own file name; read once at start-up (RunChoices::tag).
std::wstring GetFileNameTag();

// The product installer's argument text: " -s", " -i TAG", " -u USER", " -p PATH" in this order,
// each only when it applies. Each value arrives as exactly one argument: the tag and the user are
// quoted when they need it (QuotedArgument), the path (held enclosed in double quotes) is always
// enclosed (EnclosedArgument), so that simple values keep the plain text -i TAG -u LOGIN -p "DIR".
std::wstring InstallerArguments(const RunChoices& choices, const std::wstring& tag);

// The redistributable's command line: its own path, quoted, then "/install /quiet /norestart",
// so that these are its arguments 1 to 3.
std::wstring RedistributableCommandLine(const std::wstring& program);

// The program file itself (never what a link points to), opened for reading and shared only for
// reading: while the handle is held nobody can write, replace, rename or delete the file, and the
// system can still open it to start it. Invalid when it is missing or not a plain file.
unique_handle HoldProgramFile(const std::wstring& path);

// Starts |program|, held open by |heldFile| (HoldProgramFile) so that the file checked is the
// file that runs, with |commandLine| as its whole command line, in a console of its own, from the
// folder that holds it; lets go of the file once the process has started and waits for its end.
// Nothing when it was not started (run cancelled, program not held, start failed; the two last are
// logged) or its exit code cannot be read (logged); else its exit code, which is logged as
// "<file name> ended with exit code N". The running program sits in the run's child-process slot
// while it is waited for.
std::optional<unsigned long> RunProcess(RunContext& run, const std::wstring& program, const std::wstring& commandLine,
                                        unique_handle heldFile);

// Worker body.
void SetupStage(RunContext& run);
#endif
