#include "install/download/package_file.h"

#include <windows.h>

#include <string>

#include "common/log.h"
#include "common/system_error_text.h"
#include "common/text.h"
#include "install/run_context.h"
#include "install/window_messages.h"

namespace {
struct PackageCopy {
    const RunContext& run;
    ProgressPoster progress;
};

// CopyFileExW's progress routine: the bar follows the bytes, and the run's cancel stops the copy.
DWORD CALLBACK CopyProgress(LARGE_INTEGER total, LARGE_INTEGER copied, LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD,
                            HANDLE, HANDLE, LPVOID context) {
    auto& copy = *static_cast<PackageCopy*>(context);
    if (copy.run.Cancelled()) return PROGRESS_CANCEL;
    if (total.QuadPart > 0)
        copy.progress.Post(static_cast<unsigned long long>(copied.QuadPart),
                           static_cast<unsigned long long>(total.QuadPart));
    return PROGRESS_CONTINUE;
}
}  // namespace

void CopyPackageFile(RunContext& run) {
    const std::wstring source = Utf8ToWide(run.choices.packageFile);
    Log(LogLevel::Note, "Installing from the package file ", run.choices.packageFile, " (no download is made)");
    Log(LogLevel::Note, "Copying the package to: ", WideToUtf8(run.packagePath));
    PackageCopy copy{run, ProgressPoster(run.window)};
    if (!CopyFileExW(source.c_str(), run.packagePath.c_str(), CopyProgress, &copy, nullptr, COPY_FILE_FAIL_IF_EXISTS)) {
        const DWORD error = GetLastError();
        const std::string failure = SystemErrorText(("Reading the package file " + run.choices.packageFile).c_str());
        DeleteFileW(run.packagePath.c_str());
        if (run.Cancelled())
            Log(LogLevel::Note, "Copying the package canceled");
        else
            run.ReportError(failure, error);
        return;
    }
    // The copy is the run's own file: no attribute of the original (read-only, hidden) stays.
    SetFileAttributesW(run.packagePath.c_str(), FILE_ATTRIBUTE_NORMAL);
    Log(LogLevel::Note, "Copying the package finished");
    run.Post(WM_DOWNLOAD_DONE);
}
