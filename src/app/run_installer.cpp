#include "app/run_installer.h"

#include <windows.h>
#include <commctrl.h>

#include <exception>

#include "app/message_loop.h"
#include "app/options.h"
#include "app/single_instance.h"
#include "common/console.h"
#include "common/exit_codes.h"
#include "common/log.h"
#include "common/system_library.h"
#include "common/system_error_text.h"
#include "common/text.h"
#include "install/setup/setup_stage.h"
#include "install/signature/package_keys.h"
#include "install/window_messages.h"
#include "ui/main_window.h"

namespace {

// A program without package keys exists only as a test program (the build refuses to make one
// otherwise); it says so, so that nobody ships it by mistake.
constexpr char kUnsignedTestProgram[] =
    "This is a test program: it installs packages without checking their signature.";

int ShowVersion(CMainWindow& window) {
    window.AttachParentConsole();
    WriteConsoleLine(VersionLine());
    if (CompiledPackageKeys().empty()) WriteConsoleLine(std::string(kUnsignedTestProgram));
    return exit_code::kSuccess;
}

constexpr char kAlreadyRunning[] = "Another installation is already in progress.";

// An installation run while another copy installs: it changes nothing and ends at once.
int RefuseSecondInstallation(CMainWindow& window, bool silent) {
    if (silent) {
        window.AttachParentConsole();
        WriteConsoleLine(std::string(kAlreadyRunning));
    } else {
        BringInstallationWindowToFront();
    }
    return exit_code::kAlreadyRunning;
}

int RunInstallation(CMainWindow& window, const CommandLineDecision& decision) {
    RunChoices choices;
    choices.use32Bit = decision.use32Bit;
    choices.user = decision.user;
    choices.installPath = decision.installPath;
    choices.silent = decision.silent;
    choices.packageFile = decision.packageFile;
    choices.proxy = decision.proxy;
    choices.tag = WideToUtf8(GetFileNameTag());
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
    MarkInstallationWindow(window.m_hWnd);
    PostMessageW(window.m_hWnd, WM_INSTALL_START, 0, 0);
    const int exitCode = RunMessageLoop();
    UnmarkInstallationWindow(window.m_hWnd);
    return exitCode;
}

// Nobody can answer a window or a message box without an interactive desktop: the run is silent.
void SilentWithoutDesktop(CommandLineDecision& decision, const DesktopProbe& desktop) {
    if (decision.silent || !desktop) return;
    const DesktopPresence presence = desktop();
    if (presence.interactive) return;
    Log(LogLevel::Warning, "No interactive desktop (session ", presence.session, "): running silently");
    decision.silent = true;
}

// A log the caller asked for that cannot be written: the run does not go on without it.
int RefuseUnwritableLog(CMainWindow& window, const CommandLineDecision& decision) {
    window.AttachParentConsole();
    WriteConsoleLine("The installation log cannot be written to " + decision.logPath + ".");
    return exit_code::kInstallFailure;
}

int StartUp(CMainWindow& window, cxxopts::Options& table, CommandLineDecision decision, bool aloneOnTheMachine,
            const DesktopProbe& desktop) {
    if (window.CreateHidden(GetModuleHandleW(nullptr)) == nullptr) {
        Log(LogLevel::Failure, SystemErrorText("Creating the main window"));
        return exit_code::kInstallFailure;
    }
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
    for (const std::string& word : decision.ignoredWords) LogWarning("Ignored command-line word: " + word);
    SilentWithoutDesktop(decision, desktop);
    if (!aloneOnTheMachine) return RefuseSecondInstallation(window, decision.silent);
    if (!decision.logPath.empty() && !window.LogOpened()) return RefuseUnwritableLog(window, decision);
    return RunInstallation(window, decision);
}

// Runs the start-up while the window still exists, so that an unexpected error is logged
// before the window's last line.
int StartUpGuarded(CMainWindow& window, cxxopts::Options& table, const CommandLineDecision& decision,
                   bool aloneOnTheMachine, const DesktopProbe& desktop) {
    try {
        return StartUp(window, table, decision, aloneOnTheMachine, desktop);
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
        const CommandLineDecision decision = DecideFromCommandLine(table, arguments);
        CMainWindow window(lock.Held() ? CMainWindow::LogFile::Open : CMainWindow::LogFile::None,
                           Utf8ToWide(decision.logPath));
        window.Pipeline().Run().timing = timing;
        return StartUpGuarded(window, table, decision, lock.Held(), desktop);
    } catch (...) {  // the window itself could not be constructed: the log may not even be open
        Log(LogLevel::Failure, "Unexpected error while starting up");
    }
    return exit_code::kInstallFailure;
}
