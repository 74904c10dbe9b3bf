#pragma once
// Third stage: runs the runtime redistributable the package carries, then hides the window and
// runs the package's own "Installer.exe" with the user's choices, waiting for each.
#ifdef _WIN32
#include <string>

#include "install/stage_host.h"

class RunContext;

// The tag in a program file name: what follows the last underscore of the file name, cut at the
// first period after it ("setup_ab12.exe" gives "ab12", "a_b_c.d.exe" gives "c"); empty without
// an underscore. |modulePath| may be a full path.
std::wstring FileNameTag(const std::wstring& modulePath);

// The tag of the running program's own file name.
std::wstring GetFileNameTag();

// The product installer's argument text: " -s", " -i TAG", " -u USER", " -p PATH" in this order,
// each only when it applies; values are inserted as they are held (the path already quoted).
std::wstring InstallerArguments(const RunChoices& choices, const std::wstring& tag);

// Starts |program| with |arguments| as its whole command line, in a console of its own, from the
// folder that holds it, and waits for its end when |wait| is set. False when it was not started
// (run cancelled, program missing, start failed; the two last are logged). The running program
// sits in the run's child-process slot while it is waited for.
bool RunProcess(RunContext& run, bool wait, const std::wstring& program, const std::wstring& arguments);

// Worker body.
void SetupStage(RunContext& run);
#endif
