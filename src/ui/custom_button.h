#pragma once
// A flat, owner-drawn push button with a rounded face and a hover effect. It takes over an
// existing button of a dialog (SubclassWindow) and keeps the standard button's clicks and
// keyboard handling; it draws itself when the dialog reflects WM_DRAWITEM back to it (0x202B).
#include <windows.h>

class CCustomButton {
public:
    CCustomButton();
    ~CCustomButton();
    CCustomButton(const CCustomButton&) = delete;
    CCustomButton& operator=(const CCustomButton&) = delete;

    // Routes |button|'s messages through this object and makes it owner-drawn. False when the
    // object already serves a button or the window procedure cannot be replaced.
    bool SubclassWindow(HWND button);

    // The served button; null before subclassing and after the button has been destroyed.
    HWND Handle() const { return m_window; }
    bool IsHovered() const { return m_hover; }

    // Set by the owner right after subclassing.
    COLORREF m_textColor;  // label; also the face while hovered and the outline while pressed
    COLORREF m_faceColor;  // face; also the label while hovered
    int m_cornerSize = 0;  // ellipse width and height of the rounded corners; 0 gives a rectangle

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Route(UINT message, WPARAM wParam, LPARAM lParam);
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    void OnCreate();
    bool OnSetStyle(WPARAM style, LPARAM redraw);
    void OnMouseMove();
    void OnMouseLeave();
    void Draw(const DRAWITEMSTRUCT& item) const;
    void Detach();

    HWND m_window = nullptr;
    WNDPROC m_previousProc = DefWindowProcW;
    int m_messageDepth = 0;  // messages of this button being handled, nested
    bool m_finished = false; // WM_NCDESTROY seen; the handle is dropped when the outermost returns
    bool m_hover = false;
};
