#include <gtest/gtest.h>

#include <windows.h>

#include "install/window_messages.h"
#include "ui/main_window.h"
#include "ui/product_name.h"
#include "ui/resources/resource_ids.h"
#include "test_log.h"

namespace {

int RunLoopUntilQuit() {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return static_cast<int>(message.wParam);
}

TEST(ProductName, IsTheProductsDisplayName) { EXPECT_EQ("QuorVel", GetProductName()); }

TEST(MainWindow, LivesFromConstructionToTheLastLogLine) {
    {
        CMainWindow window;

        ASSERT_NE(nullptr, window.CreateHidden(GetModuleHandleW(nullptr))) << GetLastError();
        EXPECT_FALSE(IsWindowVisible(window.m_hWnd)) << "created hidden";
        for (int id : {IDC_PROGRESS_BAR, IDC_STATUS_TEXT, IDC_CANCEL_BUTTON})
            EXPECT_NE(nullptr, GetDlgItem(window.m_hWnd, id)) << id;
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(window.m_hWnd, IDC_CANCEL_BUTTON)));

        // Closing ends the message loop with the run's outcome (a close before any stage finished
        // is the user's cancel); the dialog stays until destruction.
        PostMessageW(window.m_hWnd, WM_CLOSE, 0, 0);
        EXPECT_EQ(1602, RunLoopUntilQuit());
        EXPECT_TRUE(IsWindow(window.m_hWnd));
    }
    const auto lines = TestLog::Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(std::string::npos, lines.back().find(" Note: Main window destroyed, exiting...")) << lines.back();
}

TEST(MainWindow, TheCancelButtonClosesTheWindow) {
    CMainWindow window;
    ASSERT_NE(nullptr, window.CreateHidden(GetModuleHandleW(nullptr)));
    const HWND button = GetDlgItem(window.m_hWnd, IDC_CANCEL_BUTTON);
    SendMessageW(window.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_BUTTON, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    EXPECT_EQ(1602, RunLoopUntilQuit()) << "the user cancelled";
}

}  // namespace
