#pragma once
// Placement of the installer's pop-up dialog: centred over a visible owner, or over the work area
// of the nearest monitor, and always kept inside that work area.
#include <windows.h>

// Top-left corner for a window of |size| centred on |centre| and then moved into |workArea|.
// The right and bottom edges are clamped first, so when the window is larger than the work area
// its left and top edges stay visible.
POINT CenteredPosition(const RECT& centre, const RECT& workArea, SIZE size);

// Moves |window| (a pop-up) to its centred position without changing its size, z-order or
// activation. Leaves it where it is when the monitor cannot be determined.
void CenterWindow(HWND window);
