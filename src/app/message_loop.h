#pragma once
// The UI thread's message loop.
#include <windows.h>

// Runs the thread's message loop without the dialog manager's keyboard handling (Tab, Enter and
// Esc have no dialog meaning) and returns the quit message's code. When the messages cannot be
// read (|getMessage| returns -1, which would repeat for ever), the failure is logged with the
// system's reason and the run ends with exit_code::kInstallFailure.
int RunMessageLoop(decltype(&GetMessageW) getMessage = GetMessageW);
