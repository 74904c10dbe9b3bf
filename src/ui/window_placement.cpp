#include "ui/window_placement.h"

namespace {
// Integer division truncates toward zero, as the placement rule asks, also for negative
// coordinates of monitors left of or above the primary one.
LONG CentredStart(LONG low, LONG high, LONG length) { return (low + high) / 2 - length / 2; }

LONG ClampStart(LONG start, LONG length, LONG low, LONG high) {
    if (start + length > high) start = high - length;
    if (start < low) start = low;
    return start;
}

// The owner counts only while the user can see it.
HWND VisibleOwner(HWND window) {
    const HWND owner = GetWindow(window, GW_OWNER);
    if (owner == nullptr) return nullptr;
    const LONG_PTR style = GetWindowLongPtrW(owner, GWL_STYLE);
    if ((style & WS_VISIBLE) == 0 || (style & WS_MINIMIZE) != 0) return nullptr;
    return owner;
}
}  // namespace

POINT CenteredPosition(const RECT& centre, const RECT& workArea, SIZE size) {
    POINT position{CentredStart(centre.left, centre.right, size.cx), CentredStart(centre.top, centre.bottom, size.cy)};
    position.x = ClampStart(position.x, size.cx, workArea.left, workArea.right);
    position.y = ClampStart(position.y, size.cy, workArea.top, workArea.bottom);
    return position;
}

void CenterWindow(HWND window) {
    const HWND owner = VisibleOwner(window);
    const HMONITOR monitor = MonitorFromWindow(owner ? owner : window, MONITOR_DEFAULTTONEAREST);
    MONITORINFO monitorInfo{};
    monitorInfo.cbSize = sizeof(monitorInfo);
    if (monitor == nullptr || !GetMonitorInfoW(monitor, &monitorInfo)) return;

    RECT centre = monitorInfo.rcWork;
    if (owner != nullptr) GetWindowRect(owner, &centre);
    RECT own{};
    GetWindowRect(window, &own);
    const SIZE size{own.right - own.left, own.bottom - own.top};

    const POINT position = CenteredPosition(centre, monitorInfo.rcWork, size);
    SetWindowPos(window, nullptr, position.x, position.y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
