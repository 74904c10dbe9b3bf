#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "app/message_loop.h"
#include "common/exit_codes.h"
#include "test_log.h"

namespace {

int g_calls = 0;

// Reads one message the loop must dispatch, then fails as GetMessageW does for a bad handle.
BOOL WINAPI FailingGetMessage(LPMSG message, HWND, UINT, UINT) {
    if (++g_calls > 2) return 0;  // a loop that ignored the failure would end here with 0
    if (g_calls == 1) {
        *message = MSG{};
        message->message = WM_NULL;
        return TRUE;
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
}

BOOL WINAPI QuittingGetMessage(LPMSG message, HWND, UINT, UINT) {
    *message = MSG{};
    message->message = WM_QUIT;
    message->wParam = 1602;
    return 0;
}

TEST(MessageLoop, EndsWithTheQuitCode) { EXPECT_EQ(1602, RunMessageLoop(QuittingGetMessage)); }

TEST(MessageLoop, UnreadableMessagesEndTheRunAsAFailureWithTheSystemsReason) {
    EXPECT_EQ(exit_code::kInstallFailure, RunMessageLoop(FailingGetMessage));
    EXPECT_EQ(2, g_calls) << "the loop went on reading after the failure";
    const std::string text = TestLog::Text();
    EXPECT_NE(std::string::npos, text.find(" Failure: Reading the window messages failed with error 1400 (0x0578): "))
        << text;
}

}  // namespace
