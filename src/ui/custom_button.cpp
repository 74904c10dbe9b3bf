#include "ui/custom_button.h"

#include <commctrl.h>

#include "common/system_library.h"
#include "ui/dialog_dispatch.h"
#include "ui/dpi_scale.h"
#include "ui/gdi_object.h"

namespace {
constexpr UINT kReflectedDrawItem = kReflectedMessageBase + WM_DRAWITEM;
constexpr UINT kRedrawNow = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;
constexpr int kLabelCapacity = 260;
constexpr int kOutlineWidth = 1;   // at 96 DPI
constexpr int kPressedOffset = 1;  // the pressed label moves this far right and down, at 96 DPI
// One subclass of ours per button; the id tells it apart from others' subclasses.
constexpr UINT_PTR kSubclassId = 1;

struct StateColours {
    COLORREF face;
    COLORREF outline;
    COLORREF label;
};

// comctl32 is not one of Windows' KnownDLLs: it is reached in System32 only, by name.
decltype(&SetWindowSubclass) SetSubclass() {
    static const auto function = SystemFunction<decltype(&SetWindowSubclass)>(L"comctl32.dll", "SetWindowSubclass");
    return function;
}

decltype(&RemoveWindowSubclass) RemoveSubclass() {
    static const auto function =
        SystemFunction<decltype(&RemoveWindowSubclass)>(L"comctl32.dll", "RemoveWindowSubclass");
    return function;
}

LRESULT CallNextProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    static const auto next = SystemFunction<decltype(&DefSubclassProc)>(L"comctl32.dll", "DefSubclassProc");
    return next ? next(window, message, wParam, lParam) : DefWindowProcW(window, message, wParam, lParam);
}

bool IsKeyMessage(UINT message) { return message == WM_KEYDOWN || message == WM_KEYUP || message == WM_CHAR; }
}  // namespace

CCustomButton::CCustomButton() : m_textColor(GetSysColor(COLOR_BTNTEXT)), m_faceColor(GetSysColor(COLOR_BTNFACE)) {}

CCustomButton::~CCustomButton() {
    // Normally the dialog has destroyed the button by now; if not, take this object out of its
    // procedures so that no message reaches a gone object.
    if (m_window != nullptr) Unsubclass();
}

bool CCustomButton::SubclassWindow(HWND button) {
    if (m_window != nullptr || button == nullptr) return false;
    const auto setSubclass = SetSubclass();
    if (setSubclass == nullptr ||
        !setSubclass(button, &CCustomButton::SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
        return false;
    m_window = button;
    SendMessageW(button, BM_SETSTYLE, BS_OWNERDRAW, TRUE);
    return true;
}

void CCustomButton::SetDpi(UINT dpi) {
    m_dpi = dpi;
    if (m_window != nullptr) InvalidateRect(m_window, nullptr, TRUE);
}

LRESULT CALLBACK CCustomButton::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                             DWORD_PTR self) {
    auto& button = *reinterpret_cast<CCustomButton*>(self);
    LRESULT result = 0;
    if (button.ProcessMessage(message, wParam, lParam, result)) return result;
    // comctl32 keeps the subclass alive until the messages nested in this one have returned.
    if (message == WM_NCDESTROY) button.Unsubclass();
    return CallNextProcedure(window, message, wParam, lParam);
}

void CCustomButton::Unsubclass() {
    const auto removeSubclass = RemoveSubclass();
    if (removeSubclass != nullptr) removeSubclass(m_window, &CCustomButton::SubclassProc, kSubclassId);
    m_window = nullptr;
    m_hover = false;
}

bool CCustomButton::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    result = 0;
    switch (message) {
        case kReflectedDrawItem:
            Draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return true;
        case WM_CREATE:
            OnCreate();
            return false;
        case BM_SETSTYLE:
            return OnSetStyle(wParam, lParam);
        case WM_MOUSEMOVE:
            OnMouseMove();
            return true;
        case WM_MOUSELEAVE:
            OnMouseLeave();
            return true;
        default:
            if (!m_keyboardPresses && IsKeyMessage(message)) return true;  // swallowed
            return false;
    }
}

void CCustomButton::OnCreate() { SendMessageW(m_window, BM_SETSTYLE, BS_OWNERDRAW, TRUE); }

// The dialog manager sets BS_PUSHBUTTON or BS_DEFPUSHBUTTON whenever the default button changes;
// taking either would turn the button back into a standard one.
bool CCustomButton::OnSetStyle(WPARAM style, LPARAM redraw) {
    if (style != BS_PUSHBUTTON && style != BS_DEFPUSHBUTTON) return false;
    if (redraw != 0) RedrawWindow(m_window, nullptr, nullptr, kRedrawNow);
    return true;
}

void CCustomButton::OnMouseMove() {
    if (m_hover) return;
    m_hover = true;
    InvalidateRect(m_window, nullptr, TRUE);
    TRACKMOUSEEVENT request{};
    request.cbSize = sizeof(request);
    request.dwFlags = TME_LEAVE;
    request.hwndTrack = m_window;
    TrackMouseEvent(&request);
}

void CCustomButton::OnMouseLeave() {
    m_hover = false;
    InvalidateRect(m_window, nullptr, TRUE);
}

void CCustomButton::Draw(const DRAWITEMSTRUCT& item) const {
    const RECT& rc = item.rcItem;
    const HDC dc = item.hDC;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;

    StateColours colours{m_faceColor, m_faceColor, m_textColor};
    if (pressed) {
        colours = {m_faceColor, m_textColor, m_textColor};
    } else if (m_hover) {
        colours = {m_textColor, m_faceColor, m_faceColor};
    }

    {
        const unique_gdi<HBRUSH> brush(CreateSolidBrush(colours.face));
        // Inside the frame: a wider outline stays within the button instead of straddling its edge.
        const unique_gdi<HPEN> pen(CreatePen(PS_INSIDEFRAME, ScaleToDpi(kOutlineWidth, m_dpi), colours.outline));
        const ScopedSelection brushSelection(dc, brush.get());
        const ScopedSelection penSelection(dc, pen.get());
        const int corner = ScaleToDpi(m_cornerSize, m_dpi);
        RoundRect(dc, rc.left, rc.top, rc.right, rc.bottom, corner, corner);
    }

    wchar_t label[kLabelCapacity] = {};
    GetWindowTextW(m_window, label, kLabelCapacity);
    if (label[0] == L'\0') return;
    SIZE extent{};
    GetTextExtentPoint32W(dc, label, lstrlenW(label), &extent);

    int x = (rc.left + rc.right) / 2 - extent.cx / 2;
    int y = (rc.top + rc.bottom) / 2 - extent.cy / 2;
    if (pressed) {
        x += ScaleToDpi(kPressedOffset, m_dpi);
        y += ScaleToDpi(kPressedOffset, m_dpi);
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colours.label);
    DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(label), 0, x, y, extent.cx, extent.cy,
               DST_TEXT | (disabled ? DSS_DISABLED : 0));
}
