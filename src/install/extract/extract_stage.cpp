#include "install/extract/extract_stage.h"

#include <windows.h>

#include "common/log.h"
#include "common/system_error_text.h"
#include "common/text.h"
#include "install/extract/extract_archive.h"
#include "install/signature/package_check.h"
#include "install/signature/package_keys.h"
#include "install/run_context.h"
#include "install/window_messages.h"

namespace {
constexpr char kExtractionFailed[] = "Failed to extract files.";
constexpr char kNotAuthentic[] = "The downloaded package is not authentic.";

// Checks the package before anything in it is unpacked. On success |held| keeps the package
// unchangeable until the caller is done reading it. A package that fails is deleted and fails the
// run; it is not downloaded again.
bool CheckPackage(RunContext& run, unique_handle& held) {
    const CancelTest cancelRequested = [&run] { return run.Cancelled(); };
    const PackageRequirements requirements =
        ProgramPackageRequirements(run.choices.use32Bit ? PackageBuild::X86 : PackageBuild::X64);
    switch (CheckDownloadedPackage(run.packagePath, CompiledPackageKeys(), requirements, cancelRequested, held)) {
        case PackageCheck::Authentic:
        case PackageCheck::Unchecked:
            return true;
        case PackageCheck::Cancelled:
            Log(LogLevel::Note, "Canceling the package check...");
            return false;
        case PackageCheck::NotAuthentic:
            break;
    }
    if (!DeleteFileW(run.packagePath.c_str()))
        LogWarning(SystemErrorText("Deleting the package that failed its check"));
    run.ReportError(kNotAuthentic);
    return false;
}
}  // namespace

void ExtractStage(RunContext& run) {
    // Held open from before the check until the extraction has read the last entry.
    unique_handle checkedPackage;
    if (!CheckPackage(run, checkedPackage)) return;

    const std::wstring folder = run.ExtractionFolder();
    Log(LogLevel::Note, "Unzipping to ", WideToUtf8(folder));
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        LogError(SystemErrorText("Creating extraction folder"));
        run.ReportError(kExtractionFailed);
        return;
    }

    const HWND window = run.window;
    const auto windowGone = [window] { return !IsWindow(window); };
    const ExtractionProgress progress = [window, windowGone](std::uint32_t done, std::uint32_t total) {
        if (!windowGone()) PostProgress(window, done, total);
    };
    const CancelTest cancelRequested = [&run, windowGone] { return run.Cancelled() || windowGone(); };

    const ExtractionResult result = ExtractArchive(run.packagePath, folder, progress, cancelRequested);
    if (result.extracted == 0 && result.total == 0) {
        run.ReportError(kExtractionFailed);
    } else if (!run.Cancelled()) {
        run.Post(WM_EXTRACT_DONE);
    }
}
