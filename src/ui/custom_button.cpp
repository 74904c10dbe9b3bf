#include "ui/custom_button.h"

#include <commctrl.h>

#include "ui/gdi_object.h"

namespace {
// The dialog sends child notifications back to the child as the message number + 0x2000.
constexpr UINT kReflectedDrawItem = 0x2000 + WM_DRAWITEM;
constexpr UINT kRedrawNow = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;
constexpr wchar_t kObjectProperty[] = L"QuorVel.CCustomButton";
constexpr int kLabelCapacity = 260;

struct StateColours {
    COLORREF face;
    COLORREF outline;
    COLORREF label;
};
}  // namespace

CCustomButton::CCustomButton()
    : m_textColor(GetSysColor(COLOR_BTNTEXT)), m_faceColor(GetSysColor(COLOR_BTNFACE)) {}

CCustomButton::~CCustomButton() {
    // Normally the dialog has destroyed the button by now; if not, hand it back its own
    // procedure so that no message reaches a gone object.
    if (m_window != nullptr) Detach();
}

bool CCustomButton::SubclassWindow(HWND button) {
    if (m_window != nullptr || button == nullptr) return false;
    // The object must be findable before the first message arrives through the new procedure.
    if (!SetPropW(button, kObjectProperty, this)) return false;
    m_window = button;
    const auto previous = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CCustomButton::WindowProc)));
    if (previous == nullptr) {
        RemovePropW(button, kObjectProperty);
        m_window = nullptr;
        return false;
    }
    m_previousProc = previous;
    SendMessageW(button, BM_SETSTYLE, BS_OWNERDRAW, TRUE);
    return true;
}

LRESULT CALLBACK CCustomButton::WindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    auto* self = static_cast<CCustomButton*>(GetPropW(window, kObjectProperty));
    if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    return self->Route(message, wParam, lParam);
}

LRESULT CCustomButton::Route(UINT message, WPARAM wParam, LPARAM lParam) {
    ++m_messageDepth;
    const HWND window = m_window;
    LRESULT result = 0;
    if (!ProcessMessage(message, wParam, lParam, result)) {
        result = CallWindowProcW(m_previousProc, window, message, wParam, lParam);
        if (message == WM_NCDESTROY) {
            Detach();
            m_finished = true;
        }
    }
    if (--m_messageDepth == 0 && m_finished) {
        m_window = nullptr;
        m_finished = false;
        m_hover = false;
    }
    return result;
}

// Puts the button's previous procedure back, unless someone has subclassed it after us (then
// taking ourselves out would cut them off too).
void CCustomButton::Detach() {
    const auto current =
        reinterpret_cast<WNDPROC>(GetWindowLongPtrW(m_window, GWLP_WNDPROC));
    if (m_previousProc != DefWindowProcW && current == &CCustomButton::WindowProc) {
        SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_previousProc));
    }
    RemovePropW(m_window, kObjectProperty);
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
        const unique_gdi<HPEN> pen(CreatePen(PS_SOLID, 1, colours.outline));
        const ScopedSelection brushSelection(dc, brush.get());
        const ScopedSelection penSelection(dc, pen.get());
        RoundRect(dc, rc.left, rc.top, rc.right, rc.bottom, m_cornerSize, m_cornerSize);
    }

    wchar_t label[kLabelCapacity] = {};
    GetWindowTextW(m_window, label, kLabelCapacity);
    if (label[0] == L'\0') return;
    SIZE extent{};
    GetTextExtentPoint32W(dc, label, lstrlenW(label), &extent);

    int x = (rc.left + rc.right) / 2 - extent.cx / 2;
    int y = (rc.top + rc.bottom) / 2 - extent.cy / 2;
    if (pressed) {
        ++x;
        ++y;
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colours.label);
    DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(label), 0, x, y, extent.cx,
               extent.cy, DST_TEXT | (disabled ? DSS_DISABLED : 0));
}
