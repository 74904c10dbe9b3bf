#include "app/run_installer.h"

#include <windows.h>
#include <commctrl.h>

#include <exception>

#include "app/configuration.h"
#include "app/installation_log.h"
#include "app/message_loop.h"
#include "app/options.h"
#include "app/single_instance.h"
#include "common/console.h"
#include "common/exit_codes.h"
#include "common/log.h"
#include "common/system_library.h"
#include "common/system_error_text.h"
#include "common/text.h"
#include "install/signature/package_keys.h"
#include "install/window_messages.h"
#include "ui/main_window.h"

namespace {

// A program without package keys exists only as a test program (the build refuses to make one
// otherwise); it says so, so that nobody ships it by mistake.
constexpr char kUnsignedTestProgram[] =
    "This is a test program: it installs packages without checking their signature.";

int ShowVersion(ParentConsole& console) {
    console.Attach();
    WriteConsoleLine(VersionLine());
    if (CompiledPackageKeys().empty()) WriteConsoleLine(std::string(kUnsignedTestProgram));
    return exit_code::kSuccess;
}

constexpr char kAlreadyRunning[] = "Another installation is already in progress.";

// An installation run while another copy installs: it changes nothing and ends at once.
int RefuseSecondInstallation(ParentConsole& console, bool silent) {
    if (silent) {
        console.Attach();
        WriteConsoleLine(std::string(kAlreadyRunning));
    } else {
        BringInstallationWindowToFront();
    }
    return exit_code::kAlreadyRunning;
}

int RunInstallation(CMainWindow& window, ParentConsole& console) {
    if (window.Pipeline().Silent()) {
        console.Attach();
        ShowWindow(window.m_hWnd, SW_HIDE);
        WriteConsoleLine(VersionLine());
        WriteConsoleLine(NoticeLine());
        WriteConsoleLine(std::string(kSilentModeNotice));
    } else {
        ShowWindow(window.m_hWnd, SW_SHOW);
    }
    MarkInstallationWindow(window.m_hWnd);
    PostMessageW(window.m_hWnd, WM_INSTALL_START, 0, 0);
    const int exitCode = RunMessageLoop();
    UnmarkInstallationWindow(window.m_hWnd);
    return exitCode;
}

// A log the caller asked for that cannot be written: the run does not go on without it.
int RefuseUnwritableLog(ParentConsole& console, const std::string& logPath) {
    console.Attach();
    WriteConsoleLine("The installation log cannot be written to " + logPath + ".");
    return exit_code::kInstallFailure;
}

// What start-up found before the window was made.
struct StartUpState {
    bool aloneOnTheMachine = false;  // no other copy installs
    bool logOpened = false;          // the installation log can be written
};

int StartUp(CMainWindow& window, ParentConsole& console, cxxopts::Options& table, const CommandLineDecision& decision,
            const StartUpState& state) {
    if (window.CreateHidden(GetModuleHandleW(nullptr)) == nullptr) {
        Log(LogLevel::Failure, SystemErrorText("Creating the main window"));
        return exit_code::kInstallFailure;
    }
    switch (decision.action) {
        case CommandLineAction::ShowVersion:
            return ShowVersion(console);
        case CommandLineAction::ShowHelp:
            PrintHelp(console, table, "");
            return exit_code::kSuccess;
        case CommandLineAction::Reject:
            LogWarning(decision.errorMessage);
            PrintHelp(console, table, decision.errorMessage);
            return exit_code::kBadCommandLine;
        case CommandLineAction::Install:
            break;
    }
    if (!state.aloneOnTheMachine) return RefuseSecondInstallation(console, window.Pipeline().Silent());
    if (!decision.logPath.empty() && !state.logOpened) return RefuseUnwritableLog(console, decision.logPath);
    return RunInstallation(window, console);
}

// Runs the start-up while the window still exists, so that an unexpected error is logged
// before the window's last line.
int StartUpGuarded(CMainWindow& window, ParentConsole& console, cxxopts::Options& table,
                   const CommandLineDecision& decision, const StartUpState& state) {
    try {
        return StartUp(window, console, table, decision, state);
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

int RunInstaller(const std::vector<std::string>& arguments, const DownloadTiming& timing, const DesktopProbe& desktop) {
    try {
        // Taken before the log is opened: a second copy must not touch the running copy's log.
        const InstallationLock lock;
        // The progress bar's window class must exist before the dialog is created. comctl32 is
        // no KnownDLL: it is reached from System32 only.
        const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
        if (const auto initControls =
                SystemFunction<decltype(&InitCommonControlsEx)>(L"comctl32.dll", "InitCommonControlsEx"))
            initControls(&controls);
        // The command line comes first: it may say where the log goes.
        cxxopts::Options table = MakeOptionTable();
        Configuration configuration = Configure(table, arguments, timing);
        StartUpState state;
        state.aloneOnTheMachine = lock.Held();
        state.logOpened = lock.Held() && OpenInstallationLog(configuration);
        if (configuration.decision.action == CommandLineAction::Install)
            for (const std::string& word : configuration.decision.ignoredWords)
                LogWarning("Ignored command-line word: " + word);
        SilentWithoutDesktop(configuration, desktop);
        CMainWindow window(configuration.run);
        ParentConsole console;  // released before the window goes
        return StartUpGuarded(window, console, table, configuration.decision, state);
    } catch (...) {  // the window itself could not be constructed: the log may not even be open
        Log(LogLevel::Failure, "Unexpected error while starting up");
    }
    return exit_code::kInstallFailure;
}
