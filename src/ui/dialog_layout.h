#pragma once
// The controls of a dialog as the dialog manager laid them out at creation, laid out again for
// another DPI: positions, sizes and the dialog font scale by the ratio of the two DPIs. Scaling
// always starts from the creation's layout, so moving between monitors never accumulates
// rounding.
#include <windows.h>

#include <vector>

#include "ui/gdi_object.h"

class DialogLayout {
public:
    // Records where |dialog|'s controls are and which of them use the dialog's font, laid out at
    // |dpi|. Call before giving any control a font of its own.
    void Capture(HWND dialog, UINT dpi);

    // Moves and sizes every recorded control for |dpi| and gives the controls that used the
    // dialog's font that font at |dpi|. Controls with fonts of their own are re-fonted by their
    // owner afterwards.
    void ApplyTo(UINT dpi);

private:
    struct Placement {
        HWND control;
        RECT rect;  // in the dialog's client coordinates
        bool usesDialogFont;
    };

    HFONT FontFor(UINT dpi);

    HWND m_dialog = nullptr;
    UINT m_dpi = 0;
    std::vector<Placement> m_controls;
    HFONT m_dialogFont = nullptr;    // the dialog manager's; it owns and deletes it
    unique_gdi<HFONT> m_scaledFont;  // the dialog font at another DPI, while one is in use
};
