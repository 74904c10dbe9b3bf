#include "app/message_loop.h"

#include "common/exit_codes.h"
#include "common/log.h"
#include "common/system_error_text.h"

int RunMessageLoop(decltype(&GetMessageW) getMessage) {
    MSG message{};
    for (;;) {
        const BOOL result = getMessage(&message, nullptr, 0, 0);
        if (result == 0) return static_cast<int>(message.wParam);
        if (result == -1) {
            Log(LogLevel::Failure, SystemErrorText("Reading the window messages"));
            return exit_code::kInstallFailure;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}
