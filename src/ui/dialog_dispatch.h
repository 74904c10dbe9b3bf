#pragma once
// A small modeless-dialog base: one static dialog procedure finds the C++ object through the
// pointer kept in the dialog's DWLP_USER slot and hands each message to the object's dispatch.
// Child notifications that the dispatch does not handle are reflected back to the control that
// sent them (message + kReflectedMessageBase), which is how a control draws or colours itself.
#include <windows.h>

#include <optional>

// Reflected messages arrive at the control as the original number plus this base.
constexpr UINT kReflectedMessageBase = 0x2000;

// The control a child notification is about, or null when the message is not a child
// notification or names no existing control.
HWND FindNotificationSource(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// True for the messages whose handler result is the dialog procedure's own return value; every
// other handled message returns its result through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message);

class CDialogWindow {
public:
    CDialogWindow() = default;
    CDialogWindow(const CDialogWindow&) = delete;
    CDialogWindow& operator=(const CDialogWindow&) = delete;
    virtual ~CDialogWindow() = default;

    // Creates the dialog from template |templateId| of |module|, owned by |owner|. The dialog's
    // WM_INITDIALOG runs inside this call. Returns null (last error set) when it cannot be made.
    HWND Create(HINSTANCE module, int templateId, HWND owner);
    // The same from a template in memory (tests build their own).
    HWND CreateIndirect(HINSTANCE module, const DLGTEMPLATE* dialogTemplate, HWND owner);

    HWND m_hWnd = nullptr;

protected:
    // The message table of the concrete window: a result when the message was handled, nothing
    // when the dialog's default handling (and the reflection rule) should take it.
    virtual std::optional<LRESULT> Dispatch(UINT message, WPARAM wParam, LPARAM lParam) = 0;

private:
    static INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
};
