#include "ui/dialog_layout.h"

#include <utility>

namespace {
LONG Scale(LONG value, UINT to, UINT from) { return MulDiv(value, static_cast<int>(to), static_cast<int>(from)); }

HFONT FontOf(HWND window) { return reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)); }

BOOL CALLBACK RecordControl(HWND control, LPARAM context) {
    auto& found = *reinterpret_cast<std::vector<HWND>*>(context);
    found.push_back(control);
    return TRUE;
}
}  // namespace

void DialogLayout::Capture(HWND dialog, UINT dpi) {
    m_dialog = dialog;
    m_dpi = dpi;
    m_dialogFont = FontOf(dialog);
    m_scaledFont.reset();
    std::vector<HWND> children;
    EnumChildWindows(dialog, RecordControl, reinterpret_cast<LPARAM>(&children));
    m_controls.clear();
    for (const HWND control : children) {
        if (GetParent(control) != dialog) continue;  // a control's own children move with it
        RECT rect{};
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        m_controls.push_back({control, rect, m_dialogFont != nullptr && FontOf(control) == m_dialogFont});
    }
}

void DialogLayout::ApplyTo(UINT dpi) {
    if (m_dialog == nullptr || dpi == 0) return;
    // The font the controls use now goes only after they have been given the new one.
    const unique_gdi<HFONT> previous = std::move(m_scaledFont);
    const HFONT font = FontFor(dpi);
    for (const Placement& placement : m_controls) {
        const RECT& r = placement.rect;
        const LONG left = Scale(r.left, dpi, m_dpi);
        const LONG top = Scale(r.top, dpi, m_dpi);
        SetWindowPos(placement.control, nullptr, left, top, Scale(r.right, dpi, m_dpi) - left,
                     Scale(r.bottom, dpi, m_dpi) - top, SWP_NOZORDER | SWP_NOACTIVATE);
        if (placement.usesDialogFont && font != nullptr)
            SendMessageW(placement.control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
}

// The dialog's own font at the creation's DPI; at any other a scaled copy, kept in m_scaledFont
// until the next change.
HFONT DialogLayout::FontFor(UINT dpi) {
    if (m_dialogFont == nullptr || dpi == m_dpi) return m_dialogFont;
    LOGFONTW description{};
    if (GetObjectW(m_dialogFont, sizeof(description), &description) != static_cast<int>(sizeof(description)))
        return nullptr;
    description.lfHeight = Scale(description.lfHeight, dpi, m_dpi);
    description.lfWidth = Scale(description.lfWidth, dpi, m_dpi);
    m_scaledFont.reset(CreateFontIndirectW(&description));
    return m_scaledFont ? m_scaledFont.get() : m_dialogFont;
}
