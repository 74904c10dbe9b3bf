#include "app/desktop_presence.h"

#include <windows.h>

DesktopPresence ProbeInteractiveDesktop() {
    DesktopPresence presence;
    DWORD session = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session)) presence.session = session;
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    const HWINSTA station = GetProcessWindowStation();
    // A window station that cannot be asked counts as visible: a run is silent only when the
    // system says so.
    const bool visible = station == nullptr ||
                         !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) ||
                         (flags.dwFlags & WSF_VISIBLE) != 0;
    presence.interactive = visible && presence.session != 0;
    return presence;
}
