#include "install/ui_thread_wait.h"

#include <optional>

void WaitPumpingMessages(HANDLE object) {
    std::optional<WPARAM> quit;
    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjects(1, &object, FALSE, INFINITE, QS_ALLINPUT);
        if (woke != WAIT_OBJECT_0 + 1) break;  // signalled, or the wait itself failed
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = message.wParam;
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    if (quit) PostQuitMessage(static_cast<int>(*quit));
}
