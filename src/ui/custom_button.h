#pragma once
// A flat, owner-drawn push button with a rounded face and a hover effect. It takes over an
// existing button of a dialog (SubclassWindow) and keeps the standard button's clicks; it draws
// itself when the dialog reflects WM_DRAWITEM back to it (kReflectedMessageBase + WM_DRAWITEM).
#include <windows.h>

#include "ui/dpi_scale.h"

class CCustomButton {
public:
    CCustomButton();
    ~CCustomButton();
    CCustomButton(const CCustomButton&) = delete;
    CCustomButton& operator=(const CCustomButton&) = delete;

    // Routes |button|'s messages through this object (comctl32's window subclassing) and makes it
    // owner-drawn. False when the object already serves a button or the subclass cannot be set.
    bool SubclassWindow(HWND button);

    // The served button; null before subclassing and after the button has been destroyed.
    HWND Handle() const { return m_window; }
    bool IsHovered() const { return m_hover; }

    // The DPI the button is drawn at: the outline, the corners and the pressed label's offset
    // are designed at 96 DPI and scaled to it. The label's size follows the button's font.
    void SetDpi(UINT dpi);

    // Set by the owner right after subclassing.
    COLORREF m_textColor;  // label; also the face while hovered and the outline while pressed
    COLORREF m_faceColor;  // face; also the label while hovered
    int m_cornerSize = 0;  // ellipse width and height of the rounded corners at 96 DPI; 0: square
    // When false, keys do not press the button (only the mouse does); set by an owner whose
    // button must not be operated by a stray key press.
    bool m_keyboardPresses = true;

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR self);
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    void OnCreate();
    bool OnSetStyle(WPARAM style, LPARAM redraw);
    void OnMouseMove();
    void OnMouseLeave();
    void Draw(const DRAWITEMSTRUCT& item) const;
    void Unsubclass();

    HWND m_window = nullptr;
    UINT m_dpi = kDesignDpi;
    bool m_hover = false;
};
