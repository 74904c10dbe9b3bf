#include "app/run_installer.h"

#include <windows.h>
#include <commctrl.h>

#include <exception>

#include "app/options.h"
#include "common/console.h"
#include "common/exit_codes.h"
#include "common/log.h"
#include "common/system_error_text.h"
#include "common/text.h"
#include "install/window_messages.h"
#include "ui/main_window.h"

namespace {

// The thread's message loop without the dialog manager's keyboard handling: Tab, Enter and Esc
// have no dialog meaning. Ends with the quit message's code.
int RunMessageLoop() {
    MSG message{};
    for (;;) {
        const BOOL result = GetMessageW(&message, nullptr, 0, 0);
        if (result == 0) return static_cast<int>(message.wParam);
        if (result == -1) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

int ShowVersion(CMainWindow& window) {
    window.AttachParentConsole();
    WriteConsoleLine(VersionLine());
    return exit_code::kSuccess;
}

int RunInstallation(CMainWindow& window, const CommandLineDecision& decision) {
    RunChoices choices;
    choices.use32Bit = decision.use32Bit;
    choices.user = decision.user;
    choices.installPath = decision.installPath;
    choices.silent = decision.silent;
    window.SetChoices(choices);
    if (choices.silent) {
        window.AttachParentConsole();
        ShowWindow(window.m_hWnd, SW_HIDE);
        WriteConsoleLine(VersionLine());
        WriteConsoleLine(NoticeLine());
        WriteConsoleLine(std::string(kSilentModeNotice));
    } else {
        ShowWindow(window.m_hWnd, SW_SHOW);
    }
    PostMessageW(window.m_hWnd, WM_INSTALL_START, 0, 0);
    return RunMessageLoop();
}

int StartUp(CMainWindow& window, const std::vector<std::string>& arguments) {
    if (window.CreateHidden(GetModuleHandleW(nullptr)) == nullptr) {
        Log(LogLevel::Failure, SystemErrorText("Creating the main window"));
        return exit_code::kInstallFailure;
    }
    cxxopts::Options table = MakeOptionTable();
    const CommandLineDecision decision = DecideFromCommandLine(table, arguments);
    switch (decision.action) {
        case CommandLineAction::ShowVersion:
            return ShowVersion(window);
        case CommandLineAction::ShowHelp:
            PrintHelp(window, table, "");
            return exit_code::kSuccess;
        case CommandLineAction::Reject:
            LogWarning(decision.errorMessage);
            PrintHelp(window, table, decision.errorMessage);
            return exit_code::kBadCommandLine;
        case CommandLineAction::Install:
            break;
    }
    return RunInstallation(window, decision);
}

// Runs the start-up while the window still exists, so that an unexpected error is logged
// before the window's last line.
int StartUpGuarded(CMainWindow& window, const std::vector<std::string>& arguments) {
    try {
        return StartUp(window, arguments);
    } catch (const std::exception& error) {
        Log(LogLevel::Failure, "Unexpected error: ", error.what());
    } catch (...) {
        Log(LogLevel::Failure, "Unexpected error of unknown type");
    }
    return exit_code::kInstallFailure;
}

}  // namespace

std::vector<std::string> ArgumentsAsUtf8(int argc, const wchar_t* const* argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc && argv != nullptr && argv[i] != nullptr; ++i) arguments.push_back(WideToUtf8(argv[i]));
    return arguments;
}

int RunInstaller(const std::vector<std::string>& arguments, const DownloadTiming& timing) {
    try {
        // The progress bar's window class must exist before the dialog is created.
        const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        CMainWindow window;
        window.Pipeline().Run().timing = timing;
        return StartUpGuarded(window, arguments);
    } catch (...) {  // the window itself could not be constructed: the log may not even be open
        Log(LogLevel::Failure, "Unexpected error while starting up");
    }
    return exit_code::kInstallFailure;
}
