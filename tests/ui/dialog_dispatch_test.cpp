#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "ui/dialog_dispatch.h"
#include "test_log.h"

namespace {

constexpr int kButtonId = 7;
constexpr LRESULT kControlAnswer = 0x5A5A;
constexpr UINT kHandledMessage = WM_APP + 1;
constexpr UINT kThrowingMessage = WM_APP + 2;

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Received> g_received;
WNDPROC g_buttonProcedure = nullptr;

// The button records every reflected message and answers it with kControlAnswer.
LRESULT CALLBACK RecordingButton(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= kReflectedMessageBase && message < kReflectedMessageBase + 0x400) {
        g_received.push_back({message, wParam, lParam});
        return kControlAnswer;
    }
    return CallWindowProcW(g_buttonProcedure, window, message, wParam, lParam);
}

// A dialog template in memory: a popup with one button.
struct alignas(4) TestTemplate {
    DLGTEMPLATE dialog{WS_POPUP, 0, 1, 0, 0, 100, 50};
    WORD menu = 0, windowClass = 0, title = 0;
    DLGITEMTEMPLATE button{WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 5, 5, 40, 14, kButtonId};
    WORD buttonClass[2] = {0xFFFF, 0x0080};
    WORD buttonTitle = 0;
    WORD extra = 0;
};

class CTestDialog : public CDialogWindow {
protected:
    std::optional<LRESULT> Dispatch(UINT message, WPARAM, LPARAM) override {
        if (message == kHandledMessage) return 7;
        if (message == kThrowingMessage) throw std::runtime_error("handler broke");
        if (message == WM_CTLCOLORDLG) return 0x1234;  // handled: returned directly
        return std::nullopt;
    }
};

class DialogDispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        static TestTemplate dialogTemplate;
        ASSERT_NE(nullptr, m_dialog.CreateIndirect(GetModuleHandleW(nullptr), &dialogTemplate.dialog, nullptr))
            << GetLastError();
        m_button = GetDlgItem(m_dialog.m_hWnd, kButtonId);
        ASSERT_NE(nullptr, m_button);
        g_buttonProcedure = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(m_button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingButton)));
        g_received.clear();
    }
    void TearDown() override {
        if (m_dialog.m_hWnd) DestroyWindow(m_dialog.m_hWnd);
    }
    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) {
        return SendMessageW(m_dialog.m_hWnd, message, wParam, lParam);
    }

    CTestDialog m_dialog;
    HWND m_button = nullptr;
};

TEST_F(DialogDispatchTest, ChildNotificationsAreReflectedToTheirControl) {
    NMHDR header{m_button, kButtonId, 1};
    DRAWITEMSTRUCT draw{};
    draw.CtlID = kButtonId;
    draw.hwndItem = m_button;
    MEASUREITEMSTRUCT measure{};
    measure.CtlID = kButtonId;
    DELETEITEMSTRUCT removal{};
    removal.CtlID = kButtonId;
    removal.hwndItem = m_button;
    const LPARAM button = reinterpret_cast<LPARAM>(m_button);
    const struct {
        const char* name;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    } cases[] = {
        {"WM_COMMAND", WM_COMMAND, MAKEWPARAM(kButtonId, BN_CLICKED), button},
        {"WM_NOTIFY", WM_NOTIFY, kButtonId, reinterpret_cast<LPARAM>(&header)},
        {"WM_PARENTNOTIFY create", WM_PARENTNOTIFY, MAKEWPARAM(WM_CREATE, kButtonId), button},
        {"WM_PARENTNOTIFY click", WM_PARENTNOTIFY, MAKEWPARAM(WM_LBUTTONDOWN, kButtonId), MAKELPARAM(3, 4)},
        {"WM_DRAWITEM", WM_DRAWITEM, kButtonId, reinterpret_cast<LPARAM>(&draw)},
        {"WM_MEASUREITEM", WM_MEASUREITEM, kButtonId, reinterpret_cast<LPARAM>(&measure)},
        {"WM_DELETEITEM", WM_DELETEITEM, kButtonId, reinterpret_cast<LPARAM>(&removal)},
        {"WM_HSCROLL", WM_HSCROLL, SB_LINEDOWN, button},
        {"WM_CTLCOLORBTN", WM_CTLCOLORBTN, 0, button},
    };
    for (const auto& c : cases) {
        g_received.clear();
        const LRESULT result = Send(c.message, c.wParam, c.lParam);
        ASSERT_EQ(1u, g_received.size()) << c.name;
        EXPECT_EQ(c.message + 0x2000, g_received[0].message) << c.name;
        EXPECT_EQ(c.wParam, g_received[0].wParam) << c.name;
        EXPECT_EQ(c.lParam, g_received[0].lParam) << c.name;
        EXPECT_EQ(kControlAnswer, result) << c.name << ": the control's answer is the dialog's result";
    }
    EXPECT_EQ(0x202Bu, static_cast<unsigned>(WM_DRAWITEM + kReflectedMessageBase));
}

TEST_F(DialogDispatchTest, NotificationsWithoutAControlStayWithTheDialog) {
    DRAWITEMSTRUCT menuItem{};
    menuItem.hwndItem = m_button;  // wParam 0: a menu item, not a control
    MEASUREITEMSTRUCT unknown{};
    unknown.CtlID = 99;
    const struct {
        const char* name;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    } cases[] = {
        {"menu command", WM_COMMAND, MAKEWPARAM(kButtonId, 0), 0},
        {"menu drawing", WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&menuItem)},
        {"unknown child id", WM_MEASUREITEM, 99, reinterpret_cast<LPARAM>(&unknown)},
        {"no such window", WM_VSCROLL, 0, 0x7FFF0},
        {"not a notification", WM_MOUSEMOVE, 0, reinterpret_cast<LPARAM>(m_button)},
    };
    for (const auto& c : cases) {
        g_received.clear();
        Send(c.message, c.wParam, c.lParam);
        EXPECT_TRUE(g_received.empty()) << c.name;
    }
}

TEST_F(DialogDispatchTest, HandledResultsTravelThroughTheResultSlotOrDirectly) {
    EXPECT_EQ(7, Send(kHandledMessage, 0, 0));
    EXPECT_EQ(7, GetWindowLongPtrW(m_dialog.m_hWnd, DWLP_MSGRESULT));
    SetWindowLongPtrW(m_dialog.m_hWnd, DWLP_MSGRESULT, 0);
    EXPECT_EQ(0x1234, Send(WM_CTLCOLORDLG, 0, 0));
    EXPECT_EQ(0, GetWindowLongPtrW(m_dialog.m_hWnd, DWLP_MSGRESULT)) << "a colour message returns directly";
    for (UINT message : {WM_INITDIALOG, WM_COMPAREITEM, WM_VKEYTOITEM, WM_CHARTOITEM, WM_QUERYDRAGICON,
                         WM_CTLCOLORMSGBOX, WM_CTLCOLORSTATIC})
        EXPECT_TRUE(ReturnsResultDirectly(message)) << message;
    for (UINT message : {WM_COMMAND, WM_NOTIFY, WM_DRAWITEM, WM_CLOSE, WM_DESTROY, WM_PAINT})
        EXPECT_FALSE(ReturnsResultDirectly(message)) << message;
}

TEST_F(DialogDispatchTest, AnExceptionInAHandlerIsLoggedAndEndsTheLoopWithAFailureCode) {
    MSG stale;
    while (PeekMessageW(&stale, nullptr, 0, 0, PM_REMOVE)) {
    }
    Send(kThrowingMessage, 0, 0);
    MSG quit{};
    ASSERT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "no quit message posted";
    EXPECT_EQ(1603u, quit.wParam);
    const std::vector<std::string> lines = TestLog::Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(std::string::npos,
              lines.back().find("Failure: Unexpected error while handling a window message: handler broke"))
        << lines.back();
}

TEST_F(DialogDispatchTest, TheObjectForgetsItsWindowWhenTheWindowIsGone) {
    const HWND dialog = m_dialog.m_hWnd;
    DestroyWindow(dialog);
    EXPECT_EQ(nullptr, m_dialog.m_hWnd);
    EXPECT_FALSE(IsWindow(dialog));
}

}  // namespace
