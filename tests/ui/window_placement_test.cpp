// Placement of the pop-up dialog: centring, then clamping into the work area.
#include "ui/window_placement.h"

#include <gtest/gtest.h>

namespace {
struct Case {
    const char* name;
    RECT centre;
    RECT workArea;
    SIZE size;
    POINT expected;
};

// Registers and creates a plain pop-up window; destroyed with the value.
class PopupWindow {
public:
    PopupWindow(int width, int height, HWND owner = nullptr) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"QvPlacementTest";
        RegisterClassW(&windowClass);
        m_window = CreateWindowExW(0, L"QvPlacementTest", L"", WS_POPUP, 0, 0, width, height, owner, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
    }
    ~PopupWindow() { DestroyWindow(m_window); }
    HWND get() const { return m_window; }

private:
    HWND m_window = nullptr;
};

RECT WindowRect(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

RECT PrimaryWorkArea() {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
    return info.rcWork;
}
}  // namespace

TEST(CenteredPosition, CentresThenClampsRightAndBottomBeforeLeftAndTop) {
    const RECT screen{0, 0, 1280, 1024};
    const Case cases[] = {
        {"centred on the work area", screen, screen, {400, 200}, {440, 412}},
        {"odd sizes truncate", {0, 0, 1281, 1025}, screen, {401, 201}, {440, 412}},
        {"centre past the right and bottom edges", {1000, 900, 1280, 1024}, screen, {400, 200}, {880, 824}},
        {"centre past the left and top edges", {-300, -300, 100, 100}, screen, {400, 200}, {0, 0}},
        {"larger than the work area keeps left and top", screen, screen, {1400, 1100}, {0, 0}},
        {"work area with an offset", {100, 50, 1380, 1074}, {100, 50, 1380, 1074}, {300, 100}, {590, 512}},
        {"negative halves truncate toward zero", {-1281, -3, 0, 0}, {-2000, -2000, 2000, 2000}, {3, 3}, {-641, -2}},
    };
    for (const Case& c : cases) {
        const POINT seen = CenteredPosition(c.centre, c.workArea, c.size);
        EXPECT_EQ(seen.x, c.expected.x) << c.name;
        EXPECT_EQ(seen.y, c.expected.y) << c.name;
    }
}

TEST(CenterWindow, PlacesAPopupWithoutOwnerOnTheWorkArea) {
    const PopupWindow popup(300, 120);
    ASSERT_NE(popup.get(), nullptr);
    CenterWindow(popup.get());

    const RECT work = PrimaryWorkArea();
    const POINT expected = CenteredPosition(work, work, SIZE{300, 120});
    const RECT seen = WindowRect(popup.get());
    EXPECT_EQ(seen.left, expected.x);
    EXPECT_EQ(seen.top, expected.y);
    EXPECT_EQ(seen.right - seen.left, 300) << "the size must not change";
    EXPECT_EQ(seen.bottom - seen.top, 120) << "the size must not change";
}

TEST(CenterWindow, CentresOverAVisibleOwnerAndIgnoresAHiddenOne) {
    const PopupWindow owner(200, 100);
    SetWindowPos(owner.get(), nullptr, 40, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    const PopupWindow popup(100, 50, owner.get());
    const RECT work = PrimaryWorkArea();

    CenterWindow(popup.get());  // owner hidden: the work area counts
    const POINT overWork = CenteredPosition(work, work, SIZE{100, 50});
    EXPECT_EQ(WindowRect(popup.get()).left, overWork.x);
    EXPECT_EQ(WindowRect(popup.get()).top, overWork.y);

    ShowWindow(owner.get(), SW_SHOWNOACTIVATE);
    CenterWindow(popup.get());
    EXPECT_EQ(WindowRect(popup.get()).left, 40 + 100 - 50);
    EXPECT_EQ(WindowRect(popup.get()).top, 60 + 50 - 25);
}
