#pragma once
// The window's sizes are designed at 96 DPI (100 % scaling) and drawn at the DPI of the monitor
// the window is on. Windows before 10 (1607) have no per-window DPI; there the system's DPI holds.
#include <windows.h>

constexpr UINT kDesignDpi = 96;

// |value|, designed at 96 DPI, at |dpi| (rounded to the nearest pixel, as MulDiv does).
int ScaleToDpi(int value, UINT dpi);

// The DPI |window| is drawn at: its monitor's under per-monitor awareness, else the system's.
UINT WindowDpi(HWND window);

// Leaves a change of the dialog's DPI (WM_DPICHANGED) to the dialog's own handler: the dialog
// manager neither resizes it nor re-lays out or re-fonts its controls. Does nothing on Windows
// that do neither anyway.
void HandleDialogDpiChangesMyself(HWND dialog);
