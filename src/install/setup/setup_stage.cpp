#include "install/setup/setup_stage.h"

#include <windows.h>

#include <optional>
#include <utility>
#include <vector>

#include "common/console.h"
#include "common/log.h"
#include "common/system_error_text.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "install/setup/command_line_argument.h"
#include "install/setup/setup_exit_codes.h"
#include "install/run_context.h"
#include "install/run_paths.h"

namespace {
constexpr wchar_t kRedistributableArguments[] = L"/install /quiet /norestart";
constexpr DWORD kModulePathCapacity = 520;
constexpr char kOtherInstallationRunning[] = "Another installation is in progress; try again when it has ended.";

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The package carries the redistributable under one of two names; "vcredist.exe" is preferred.
std::wstring RedistributablePath(const std::wstring& extractionFolder) {
    const std::wstring preferred = extractionFolder + L"\\vcredist.exe";
    return FileExists(preferred) ? preferred : extractionFolder + L"\\vcredist_x86.exe";
}

// Waits for the child in the run's slot, which closes the handle once the wait has ended, and
// gives its exit code (none when the system cannot tell it).
std::optional<unsigned long> WaitAndRelease(RunContext& run, unique_handle process) {
    const HANDLE held = run.childProcess.Hold(std::move(process));
    WaitForSingleObject(held, INFINITE);
    unsigned long code = 0;
    const bool known = run.seams.exitCode(held, code);
    const DWORD error = known ? ERROR_SUCCESS : GetLastError();
    run.childProcess.Release();
    if (!known) {
        SetLastError(error);
        return std::nullopt;
    }
    return code;
}

std::string FileNameOf(const std::wstring& path) { return WideToUtf8(path.substr(path.find_last_of(L"\\/") + 1)); }

// Runs the redistributable, if the package has one, and decides from its exit code whether the
// product installer may run. A redistributable that cannot be started changes nothing: the
// product installer still runs.
bool RunRedistributable(RunContext& run, const std::wstring& program) {
    const std::optional<unsigned long> code =
        RunProcess(run, program, RedistributableCommandLine(program), HoldProgramFile(program));
    if (!code || run.Cancelled()) return !run.Cancelled();
    switch (JudgeRuntimeExitCode(*code)) {
        case RuntimeVerdict::GoOn:
            return true;
        case RuntimeVerdict::GoOnWithRestartPending:
            run.MarkRestartPending();
            return true;
        case RuntimeVerdict::OtherInstallationRunning:
            run.RecordOutcome(RunOutcome::OtherInstallationRunning);
            run.ReportError(RuntimeFailureText(*code) + " " + kOtherInstallationRunning);
            return false;
        case RuntimeVerdict::Failed:
            break;
    }
    run.ReportError(RuntimeFailureText(*code));
    return false;
}

// The path of the held-enclosed install path without its enclosing double quotes.
std::wstring Unenclosed(const std::wstring& held) {
    if (held.size() >= 2 && held.front() == L'"' && held.back() == L'"') return held.substr(1, held.size() - 2);
    return held;
}
}  // namespace

std::wstring FileNameTag(const std::wstring& modulePath) {
    const size_t separator = modulePath.find_last_of(L"\\/");
    const std::wstring fileName = separator == std::wstring::npos ? modulePath : modulePath.substr(separator + 1);
    const size_t underscore = fileName.rfind(L'_');
    if (underscore == std::wstring::npos) return {};
    std::wstring tag = fileName.substr(underscore + 1);
    const size_t period = tag.find(L'.');
    if (period != std::wstring::npos) tag.erase(period);
    return tag;
}

std::wstring GetFileNameTag() {
    std::vector<wchar_t> buffer(kModulePathCapacity, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), kModulePathCapacity);
    return FileNameTag(std::wstring(buffer.data(), length < kModulePathCapacity ? length : kModulePathCapacity - 1));
}

std::wstring InstallerArguments(const RunChoices& choices, const std::wstring& tag) {
    std::wstring arguments;
    if (choices.silent) arguments += L" -s";
    if (!tag.empty()) arguments += L" -i " + QuotedArgument(tag);
    if (!choices.user.empty()) arguments += L" -u " + QuotedArgument(Utf8ToWide(choices.user));
    if (!choices.installPath.empty())
        arguments += L" -p " + EnclosedArgument(Unenclosed(Utf8ToWide(choices.installPath)));
    return arguments;
}

std::wstring RedistributableCommandLine(const std::wstring& program) {
    return EnclosedArgument(program) + L" " + kRedistributableArguments;
}

unique_handle HoldProgramFile(const std::wstring& path) {
    unique_handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (file && GetFileInformationByHandle(file.get(), &information) &&
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0)
        return file;
    return unique_handle();
}

std::optional<unsigned long> RunProcess(RunContext& run, const std::wstring& program, const std::wstring& commandLine,
                                        unique_handle heldFile) {
    if (run.Cancelled()) return std::nullopt;
    if (!heldFile) {
        Log(LogLevel::Error, "Unable to run ", WideToUtf8(program));
        return std::nullopt;
    }
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::vector<wchar_t> writableCommandLine(commandLine.begin(), commandLine.end());
    writableCommandLine.push_back(L'\0');
    Log(LogLevel::Note, "Run exe file: ", WideToUtf8(program), " Args: ", WideToUtf8(commandLine));

    const std::wstring folder = FolderOf(program);
    PROCESS_INFORMATION started{};
    if (!run.seams.startProcess(program, writableCommandLine.data(), folder, started)) {
        LogError(SystemErrorText("Creating process"));
        return std::nullopt;
    }
    heldFile.reset();  // the process has started: what runs can no longer change
    const unique_handle thread(started.hThread);
    const std::optional<unsigned long> code = WaitAndRelease(run, unique_handle(started.hProcess));
    if (!code) {
        LogError(SystemErrorText(("Reading the exit code of " + FileNameOf(program)).c_str()));
        return std::nullopt;
    }
    Log(LogLevel::Note, ExitCodeLine(FileNameOf(program), *code));
    return code;
}

void SetupStage(RunContext& run) {
    const std::wstring extractionFolder = run.ExtractionFolder();
    const std::wstring installer = extractionFolder + L"\\Installer.exe";
    DeleteFileW(run.packagePath.c_str());
    const std::wstring redistributable = RedistributablePath(extractionFolder);

    // Both programs are held from here on, so that neither can be changed before it runs (the
    // product installer not even while the redistributable runs).
    unique_handle installerFile = HoldProgramFile(installer);
    if (run.Cancelled() || !RunRedistributable(run, redistributable)) return;

    run.HideWindow();
    const RunChoices& choices = run.choices;
    const std::optional<unsigned long> code =
        RunProcess(run, installer, InstallerArguments(choices, Utf8ToWide(choices.tag)), std::move(installerFile));
    if (choices.silent) {
        WriteConsoleLine(std::string());
        if (code) WriteConsoleLine(ExitCodeLine(FileNameOf(installer), *code));
    }
    if (code)
        run.RecordInstallerExit(*code);
    else
        run.RecordOutcome(RunOutcome::Failed);
    if (!run.Cancelled()) run.Post(WM_CLOSE);
}
