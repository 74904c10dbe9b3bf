// The owner-drawn button on a real BUTTON control: subclassing, the style guard, hover tracking
// and the drawing of each state into a bitmap.
#include "ui/custom_button.h"

#include <gtest/gtest.h>

#include "ui/dialog_dispatch.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
constexpr UINT kReflectedDrawItem = kReflectedMessageBase + WM_DRAWITEM;
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kCrimson = RGB(220, 20, 60);
constexpr COLORREF kBackground = RGB(0, 255, 0);  // never drawn by the button
constexpr int kWidth = 84;
constexpr int kHeight = 28;

int g_clicks = 0;  // BN_CLICKED notifications the host received

// A top-level window that hands WM_DRAWITEM back to the child as the dialog does.
LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) ++g_clicks;
    if (message == WM_DRAWITEM && wParam != 0) {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        return SendMessageW(item->hwndItem, kReflectedDrawItem, wParam, lParam);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class ButtonHost {
public:
    explicit ButtonHost(const wchar_t* label) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = HostProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"QvButtonHost";
        RegisterClassW(&windowClass);
        m_host = CreateWindowExW(0, L"QvButtonHost", L"host", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        m_button =
            CreateWindowExW(0, L"BUTTON", label, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, 10, kWidth, kHeight, m_host,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(1004)), GetModuleHandleW(nullptr), nullptr);
        // Only a visible window collects the invalidations the hover tracking makes.
        ShowWindow(m_host, SW_SHOWNOACTIVATE);
    }
    ~ButtonHost() { DestroyWindow(m_host); }
    HWND button() const { return m_button; }

private:
    HWND m_host = nullptr;
    HWND m_button = nullptr;
};

LONG_PTR ButtonType(HWND button) { return GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK; }

// What the button drew for one item state, read back pixel by pixel.
class Rendering {
public:
    Rendering(HWND button, UINT itemState) : m_pixels(kWidth * kHeight) {
        const HDC screen = GetDC(nullptr);
        const HDC dc = CreateCompatibleDC(screen);
        ReleaseDC(nullptr, screen);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = kWidth;
        info.bmiHeader.biHeight = -kHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        const HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        const HGDIOBJ previous = SelectObject(dc, bitmap);
        const RECT all{0, 0, kWidth, kHeight};
        const HBRUSH background = CreateSolidBrush(kBackground);
        FillRect(dc, &all, background);
        DeleteObject(background);

        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.CtlID = 1004;
        item.itemAction = ODA_DRAWENTIRE;
        item.itemState = itemState;
        item.hwndItem = button;
        item.hDC = dc;
        item.rcItem = all;
        m_result = SendMessageW(button, kReflectedDrawItem, 1004, reinterpret_cast<LPARAM>(&item));
        GdiFlush();
        const auto* source = static_cast<const DWORD*>(bits);
        for (int i = 0; i < kWidth * kHeight; ++i) {
            m_pixels[i] = RGB((source[i] >> 16) & 0xFF, (source[i] >> 8) & 0xFF, source[i] & 0xFF);
        }
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }

    COLORREF at(int x, int y) const { return m_pixels[y * kWidth + x]; }
    LRESULT result() const { return m_result; }

    // Pixels of |colour| well inside the outline and its rounded corners, and their bounding box.
    int Count(COLORREF colour, RECT* box = nullptr, int inset = kInset) const {
        int count = 0;
        RECT bounds{kWidth, kHeight, -1, -1};
        for (int y = inset; y < kHeight - inset; ++y) {
            for (int x = inset; x < kWidth - inset; ++x) {
                if (at(x, y) != colour) continue;
                ++count;
                bounds = {std::min<LONG>(bounds.left, x), std::min<LONG>(bounds.top, y),
                          std::max<LONG>(bounds.right, x), std::max<LONG>(bounds.bottom, y)};
            }
        }
        if (box != nullptr) *box = bounds;
        return count;
    }

    static constexpr int kInset = 3;

private:
    std::vector<COLORREF> m_pixels;
    LRESULT m_result = -1;
};

std::string Colour(COLORREF colour) {
    char text[32];
    snprintf(text, sizeof(text), "(%d, %d, %d)", GetRValue(colour), GetGValue(colour), GetBValue(colour));
    return text;
}

class CustomButtonTest : public ::testing::Test {
protected:
    void Subclass() {
        ASSERT_NE(m_host.button(), nullptr);
        ASSERT_TRUE(m_button.SubclassWindow(m_host.button()));
        m_button.m_textColor = kWhite;
        m_button.m_faceColor = kCrimson;
        m_button.m_cornerSize = 5;
    }
    // A point on the face, left of the label, and one on the outline, at mid height.
    static constexpr int kFaceX = 4;
    static constexpr int kMidY = kHeight / 2;

    ButtonHost m_host{L"Cancel"};
    CCustomButton m_button;
};
}  // namespace

TEST_F(CustomButtonTest, DefaultsAreTheSystemButtonColours) {
    EXPECT_EQ(m_button.m_textColor, GetSysColor(COLOR_BTNTEXT));
    EXPECT_EQ(m_button.m_faceColor, GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(m_button.m_cornerSize, 0);
    EXPECT_EQ(m_button.Handle(), nullptr);
}

TEST_F(CustomButtonTest, SubclassingMakesTheButtonOwnerDrawnOnce) {
    ASSERT_EQ(ButtonType(m_host.button()), BS_PUSHBUTTON);
    Subclass();
    EXPECT_EQ(m_button.Handle(), m_host.button());
    EXPECT_EQ(ButtonType(m_host.button()), BS_OWNERDRAW);
    EXPECT_FALSE(m_button.SubclassWindow(m_host.button())) << "an object serves one button";
}

TEST_F(CustomButtonTest, PushButtonStylesAreRefusedOthersPassed) {
    Subclass();
    SendMessageW(m_host.button(), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    EXPECT_EQ(ButtonType(m_host.button()), BS_OWNERDRAW) << "default-button style must not stick";
    SendMessageW(m_host.button(), BM_SETSTYLE, BS_PUSHBUTTON, FALSE);
    EXPECT_EQ(ButtonType(m_host.button()), BS_OWNERDRAW) << "push-button style must not stick";
    SendMessageW(m_host.button(), BM_SETSTYLE, BS_AUTOCHECKBOX, FALSE);
    EXPECT_EQ(ButtonType(m_host.button()), BS_AUTOCHECKBOX) << "other styles reach the button";
}

TEST_F(CustomButtonTest, HoverRedrawsOnEnterAndLeaveOnly) {
    Subclass();
    ValidateRect(m_host.button(), nullptr);
    SendMessageW(m_host.button(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(m_button.IsHovered());
    EXPECT_TRUE(GetUpdateRect(m_host.button(), nullptr, FALSE)) << "entering must redraw";

    ValidateRect(m_host.button(), nullptr);
    SendMessageW(m_host.button(), WM_MOUSEMOVE, 0, MAKELPARAM(6, 6));
    EXPECT_TRUE(m_button.IsHovered());
    EXPECT_FALSE(GetUpdateRect(m_host.button(), nullptr, FALSE)) << "moving inside must not";

    SendMessageW(m_host.button(), WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(m_button.IsHovered());
    EXPECT_TRUE(GetUpdateRect(m_host.button(), nullptr, FALSE)) << "leaving must redraw";
}

TEST_F(CustomButtonTest, DrawsNormalHoveredAndPressedColours) {
    Subclass();
    struct Case {
        const char* state;
        bool hover;
        UINT itemState;
        COLORREF face, outline, label;
    };
    const Case cases[] = {
        {"normal", false, 0, kCrimson, kCrimson, kWhite},
        {"normal with focus", false, ODS_FOCUS, kCrimson, kCrimson, kWhite},
        {"hovered", true, 0, kWhite, kCrimson, kCrimson},
        {"pressed", false, ODS_SELECTED, kCrimson, kWhite, kWhite},
        {"pressed while hovered", true, ODS_SELECTED, kCrimson, kWhite, kWhite},
    };
    for (const Case& c : cases) {
        SendMessageW(m_host.button(), c.hover ? WM_MOUSEMOVE : WM_MOUSELEAVE, 0, 0);
        const Rendering drawn(m_host.button(), c.itemState);
        EXPECT_EQ(drawn.result(), 0) << c.state;
        EXPECT_EQ(Colour(drawn.at(kFaceX, kMidY)), Colour(c.face)) << c.state << ": face";
        EXPECT_EQ(Colour(drawn.at(0, kMidY)), Colour(c.outline)) << c.state << ": outline";
        EXPECT_GT(drawn.Count(c.label), 10) << c.state << ": label pixels in " << Colour(c.label);
        EXPECT_EQ(Colour(drawn.at(0, 0)), Colour(kBackground)) << c.state << ": rounded corner";
    }
}

TEST_F(CustomButtonTest, PressedLabelMovesOnePixelRightAndDown) {
    Subclass();
    RECT normal{}, pressed{};
    ASSERT_GT(Rendering(m_host.button(), 0).Count(kWhite, &normal), 0);
    ASSERT_GT(Rendering(m_host.button(), ODS_SELECTED).Count(kWhite, &pressed), 0);
    // The pressed outline is white too, but Count looks well inside it.
    EXPECT_EQ(pressed.left, normal.left + 1);
    EXPECT_EQ(pressed.top, normal.top + 1);
    EXPECT_EQ(pressed.right, normal.right + 1);
    EXPECT_EQ(pressed.bottom, normal.bottom + 1);
    // The label sits in the middle: equal margins left and right, give or take a pixel.
    EXPECT_LE(std::abs(normal.left - (kWidth - 1 - normal.right)), 2)
        << "label box " << normal.left << ".." << normal.right;
}

TEST_F(CustomButtonTest, DisabledLabelIsEmbossedOnTheNormalFace) {
    Subclass();
    const Rendering drawn(m_host.button(), ODS_DISABLED);
    EXPECT_EQ(Colour(drawn.at(kFaceX, kMidY)), Colour(kCrimson));
    const COLORREF shadow = GetSysColor(COLOR_3DSHADOW);
    EXPECT_GT(drawn.Count(shadow), 10) << "embossed label in " << Colour(shadow);
    EXPECT_EQ(Rendering(m_host.button(), 0).Count(shadow), 0) << "the enabled label is plain";
}

TEST_F(CustomButtonTest, CornerSizeZeroGivesARectangleAndEmptyLabelTheFaceOnly) {
    Subclass();
    m_button.m_cornerSize = 0;
    SetWindowTextW(m_host.button(), L"");
    const Rendering drawn(m_host.button(), 0);
    EXPECT_EQ(Colour(drawn.at(0, 0)), Colour(kCrimson));
    EXPECT_EQ(Colour(drawn.at(kWidth - 1, kHeight - 1)), Colour(kCrimson));
    EXPECT_EQ(drawn.Count(kWhite), 0) << "no label drawn";
    const int inside = kWidth - 2 * Rendering::kInset;
    EXPECT_EQ(drawn.Count(kCrimson), inside * (kHeight - 2 * Rendering::kInset));
}

TEST_F(CustomButtonTest, OutlineCornersAndPressedOffsetScaleWithTheDpi) {
    Subclass();
    struct Case {
        UINT dpi;
        int outline;              // pixels of the pressed (white) outline at the left edge
        int offset;               // how far the pressed label moves right and down
        bool cornerPixelCovered;  // (1, 1): drawn at 96 DPI, left out by the larger rounding at 2x
    };
    const Case cases[] = {{96, 1, 1, true}, {144, 2, 2, true}, {192, 2, 2, false}};
    // Clear of the wider outline and its larger corners; the label still lies wholly inside.
    constexpr int kLabelInset = 5;
    for (const Case& c : cases) {
        m_button.SetDpi(c.dpi);
        const Rendering normal(m_host.button(), 0);
        const Rendering pressed(m_host.button(), ODS_SELECTED);
        int outline = 0;
        while (outline < kWidth && pressed.at(outline, kMidY) == kWhite) ++outline;
        EXPECT_EQ(outline, c.outline) << c.dpi << " DPI: outline width";
        RECT normalBox{}, pressedBox{};
        ASSERT_GT(normal.Count(kWhite, &normalBox, kLabelInset), 0);
        ASSERT_GT(pressed.Count(kWhite, &pressedBox, kLabelInset), 0);
        EXPECT_EQ(pressedBox.left - normalBox.left, c.offset) << c.dpi << " DPI: pressed offset";
        EXPECT_EQ(pressedBox.top - normalBox.top, c.offset) << c.dpi << " DPI: pressed offset";
        EXPECT_EQ(normal.at(1, 1) != kBackground, c.cornerPixelCovered) << c.dpi << " DPI: corner";
    }
}

TEST_F(CustomButtonTest, KeysPressTheButtonOnlyWhenTheOwnerAllowsIt) {
    Subclass();
    for (const bool allowed : {true, false}) {
        m_button.m_keyboardPresses = allowed;
        for (const WPARAM key : {WPARAM{VK_SPACE}, WPARAM{VK_RETURN}}) {
            g_clicks = 0;
            SendMessageW(m_host.button(), WM_KEYDOWN, key, 1);
            SendMessageW(m_host.button(), WM_CHAR, key, 1);
            SendMessageW(m_host.button(), WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
            const int expected = allowed && key == VK_SPACE ? 1 : 0;
            EXPECT_EQ(g_clicks, expected) << "key " << key << ", keyboard allowed: " << allowed;
        }
        g_clicks = 0;
        SendMessageW(m_host.button(), BM_CLICK, 0, 0);
        EXPECT_EQ(g_clicks, 1) << "a click still counts, keyboard allowed: " << allowed;
    }
}

TEST(CustomButtonLifetime, DestroyedButtonIsLetGo) {
    ButtonHost host(L"Cancel");
    CCustomButton button;
    ASSERT_TRUE(button.SubclassWindow(host.button()));
    DestroyWindow(host.button());
    EXPECT_EQ(button.Handle(), nullptr);
}

TEST(CustomButtonLifetime, ButtonOutlivingTheObjectGetsItsProcedureBack) {
    ButtonHost host(L"Cancel");
    const LONG_PTR original = GetWindowLongPtrW(host.button(), GWLP_WNDPROC);
    {
        CCustomButton button;
        ASSERT_TRUE(button.SubclassWindow(host.button()));
        EXPECT_NE(GetWindowLongPtrW(host.button(), GWLP_WNDPROC), original);
    }
    EXPECT_EQ(GetWindowLongPtrW(host.button(), GWLP_WNDPROC), original);
    SendMessageW(host.button(), WM_MOUSEMOVE, 0, 0);  // must not reach the gone object
    SetWindowTextW(host.button(), L"Still here");
    wchar_t text[32] = {};
    GetWindowTextW(host.button(), text, 32);
    EXPECT_STREQ(text, L"Still here");
}
