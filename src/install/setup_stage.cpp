#include "install/setup_stage.h"

#include <windows.h>

#include <utility>
#include <vector>

#include "common/console.h"
#include "common/log.h"
#include "common/system_error_text.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "install/run_context.h"
#include "install/run_paths.h"

namespace {
constexpr wchar_t kRedistributableArguments[] = L"/install /quiet /norestart";
constexpr DWORD kModulePathCapacity = 520;

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The package carries the redistributable under one of two names; "vcredist.exe" is preferred.
std::wstring RedistributablePath(const std::wstring& extractionFolder) {
    const std::wstring preferred = extractionFolder + L"\\vcredist.exe";
    return FileExists(preferred) ? preferred : extractionFolder + L"\\vcredist_x86.exe";
}

// Waits for the child in the run's slot, which closes the handle once the wait has ended.
void WaitAndRelease(RunContext& run, unique_handle process, bool wait) {
    const HANDLE held = run.childProcess.Hold(std::move(process));
    if (wait) WaitForSingleObject(held, INFINITE);
    run.childProcess.Release();
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
    if (!tag.empty()) arguments += L" -i " + tag;
    if (!choices.user.empty()) arguments += L" -u " + Utf8ToWide(choices.user);
    if (!choices.installPath.empty()) arguments += L" -p " + Utf8ToWide(choices.installPath);
    return arguments;
}

bool RunProcess(RunContext& run, bool wait, const std::wstring& program, const std::wstring& arguments) {
    if (run.Cancelled()) return false;
    if (!FileExists(program)) {
        Log(LogLevel::Error, "Unable to run ", WideToUtf8(program));
        return false;
    }
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::vector<wchar_t> commandLine(arguments.begin(), arguments.end());
    commandLine.push_back(L'\0');
    Log(LogLevel::Note, "Run exe file: ", WideToUtf8(program), " Args: ", WideToUtf8(arguments));

    const std::wstring folder = FolderOf(program);
    PROCESS_INFORMATION started{};
    if (!run.seams.startProcess(program, commandLine.data(), folder, started)) {
        LogError(SystemErrorText("Creating process"));
        return false;
    }
    const unique_handle thread(started.hThread);
    WaitAndRelease(run, unique_handle(started.hProcess), wait);
    return true;
}

void SetupStage(RunContext& run) {
    const std::wstring extractionFolder = run.ExtractionFolder();
    const std::wstring installer = extractionFolder + L"\\Installer.exe";
    DeleteFileW(run.packagePath.c_str());
    const std::wstring redistributable = RedistributablePath(extractionFolder);

    if (!run.Cancelled()) RunProcess(run, true, redistributable, kRedistributableArguments);
    if (run.Cancelled()) return;

    run.HideWindow();
    const RunChoices& choices = run.choices;
    const bool started = RunProcess(run, true, installer, InstallerArguments(choices, GetFileNameTag()));
    if (choices.silent) WriteConsoleLine(std::string());
    run.RecordOutcome(started ? RunOutcome::ReachedInstaller : RunOutcome::Failed);
    if (!run.Cancelled()) run.Post(WM_CLOSE);
}
