#pragma once
// Whether anybody can see the program's window. Deployment tools start installers as SYSTEM in
// session 0, or on a window station nobody looks at: a window or message box there waits forever.
#include <functional>

struct DesktopPresence {
    bool interactive = true;
    unsigned long session = 0;  // the process's session
};

// The process's window station is visible (WSF_VISIBLE) and it runs outside session 0.
DesktopPresence ProbeInteractiveDesktop();

using DesktopProbe = std::function<DesktopPresence()>;
