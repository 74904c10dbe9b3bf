#include "install/extract/extract_stage.h"

#include <windows.h>

#include "common/log.h"
#include "common/system_error_text.h"
#include "common/text.h"
#include "install/extract/extract_archive.h"
#include "install/run_context.h"
#include "install/window_messages.h"

namespace {
constexpr char kExtractionFailed[] = "Failed to extract files.";
}  // namespace

void ExtractStage(RunContext& run) {
    const std::wstring folder = run.ExtractionFolder();
    Log(LogLevel::Note, "Unzipping to ", WideToUtf8(folder));
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        LogError(SystemErrorText("Creating extraction folder"));
        run.ReportError(kExtractionFailed);
        return;
    }

    const HWND window = run.window;
    const auto windowGone = [window] { return !IsWindow(window); };
    ProgressPoster poster(window);
    const ExtractionProgress progress = [&poster, windowGone](std::uint32_t done, std::uint32_t total) {
        if (!windowGone()) poster.Post(done, total);
    };
    const CancelTest cancelRequested = [&run, windowGone] { return run.Cancelled() || windowGone(); };

    const ExtractionResult result = ExtractArchive(run.packagePath, folder, progress, cancelRequested);
    if (result.extracted == 0 && result.total == 0) {
        run.ReportError(kExtractionFailed);
    } else if (!run.Cancelled()) {
        run.Post(WM_EXTRACT_DONE);
    }
}
