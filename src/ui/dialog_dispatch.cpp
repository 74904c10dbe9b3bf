#include "ui/dialog_dispatch.h"

#include <exception>

#include "common/exit_codes.h"
#include "common/log.h"

namespace {

HWND ExistingWindow(HWND window) { return window != nullptr && IsWindow(window) ? window : nullptr; }

HWND WindowFromLParam(LPARAM lParam) { return ExistingWindow(reinterpret_cast<HWND>(lParam)); }

HWND ChildWithId(HWND dialog, UINT id) { return id != 0 ? GetDlgItem(dialog, static_cast<int>(id)) : nullptr; }

// An exception must not unwind through the system's message dispatch. It ends the run instead:
// logged, and the message loop told to stop with a failure code.
void EndRunAfterException(const char* what) {
    Log(LogLevel::Failure, "Unexpected error while handling a window message: ", what);
    PostQuitMessage(exit_code::kInstallFailure);
}

}  // namespace

HWND FindNotificationSource(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:  // lParam is null for menus and accelerators: nobody to reflect to
            return WindowFromLParam(lParam);
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            return header ? ExistingWindow(header->hwndFrom) : nullptr;
        }
        case WM_PARENTNOTIFY:
            switch (LOWORD(wParam)) {
                case WM_CREATE:
                case WM_DESTROY:
                    return WindowFromLParam(lParam);
                default:
                    return ChildWithId(dialog, HIWORD(wParam));
            }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            return wParam != 0 && item ? ExistingWindow(item->hwndItem) : nullptr;
        }
        case WM_COMPAREITEM: {
            const auto* item = reinterpret_cast<const COMPAREITEMSTRUCT*>(lParam);
            return wParam != 0 && item ? ExistingWindow(item->hwndItem) : nullptr;
        }
        case WM_DELETEITEM: {
            const auto* item = reinterpret_cast<const DELETEITEMSTRUCT*>(lParam);
            return wParam != 0 && item ? ExistingWindow(item->hwndItem) : nullptr;
        }
        case WM_MEASUREITEM: {
            const auto* item = reinterpret_cast<const MEASUREITEMSTRUCT*>(lParam);
            return wParam != 0 && item ? ChildWithId(dialog, item->CtlID) : nullptr;
        }
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_HSCROLL:
        case WM_VSCROLL:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            return WindowFromLParam(lParam);
        default:
            return nullptr;
    }
}

bool ReturnsResultDirectly(UINT message) {
    switch (message) {
        case WM_INITDIALOG:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            return true;
        default:
            return false;
    }
}

HWND CDialogWindow::Create(HINSTANCE module, int templateId, HWND owner) {
    return CreateDialogParamW(module, MAKEINTRESOURCEW(templateId), owner, DialogProcedure,
                              reinterpret_cast<LPARAM>(this));
}

HWND CDialogWindow::CreateIndirect(HINSTANCE module, const DLGTEMPLATE* dialogTemplate, HWND owner) {
    return CreateDialogIndirectParamW(module, dialogTemplate, owner, DialogProcedure, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDialogWindow::DialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    // The object arrives with WM_INITDIALOG; the few messages before it (WM_SETFONT) get the
    // default handling.
    if (message == WM_INITDIALOG) {
        auto* window = reinterpret_cast<CDialogWindow*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        window->m_hWnd = dialog;
    }
    auto* window = reinterpret_cast<CDialogWindow*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (window == nullptr) return FALSE;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(dialog, DWLP_USER, 0);
        window->m_hWnd = nullptr;
        return FALSE;
    }
    try {
        return window->HandleMessage(message, wParam, lParam);
    } catch (const std::exception& error) {
        EndRunAfterException(error.what());
    } catch (...) {
        EndRunAfterException("an exception of unknown type");
    }
    return FALSE;
}

INT_PTR CDialogWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    std::optional<LRESULT> result = Dispatch(message, wParam, lParam);
    if (!result) {
        const HWND control = FindNotificationSource(m_hWnd, message, wParam, lParam);
        if (control == nullptr) return FALSE;  // the dialog's default handling
        result = SendMessageW(control, message + kReflectedMessageBase, wParam, lParam);
    }
    if (ReturnsResultDirectly(message)) return static_cast<INT_PTR>(*result);
    SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, *result);
    return TRUE;
}
