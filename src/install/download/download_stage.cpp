#include "install/download/download_stage.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "common/log.h"
#include "common/text.h"
#include "install/download/download_url.h"
#include "install/download/package_file.h"
#include "install/download/package_transfer.h"
#include "install/download/retry_policy.h"
#include "install/run_context.h"
#include "install/window_messages.h"

namespace {

// The address is ASCII: each byte becomes one UTF-16 code unit.
std::wstring WidenBytes(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (const char byte : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
    return wide;
}

std::string Seconds(std::chrono::milliseconds delay) {
    const long long tenths = (delay.count() + 50) / 100;
    return std::to_string(tenths / 10) + (tenths % 10 ? "." + std::to_string(tenths % 10) : "") + " s";
}

}  // namespace

void DownloadStage(RunContext& run) {
    if (!run.choices.packageFile.empty()) {  // the caller's package: the build is what it holds
        CopyPackageFile(run);
        return;
    }
    const bool use32Bit = run.choices.use32Bit;
    Log(LogLevel::Note, use32Bit ? "Installing 32 bit app build" : "Installing 64 bit app build");
    TransferRequest request;
    request.url = WidenBytes(use32Bit ? GetDownloadUrl32() : GetDownloadUrl64());
    request.file = run.packagePath;
    request.window = run.window;
    request.cancel = &run.cancel;
    request.stallLimit = run.timing.stallLimit;
    request.proxy = run.choices.proxy;
    Log(LogLevel::Note, "Downloading install files to: ", WideToUtf8(request.file));

    std::string failure;
    unsigned long failureError = 0;
    std::uint64_t mostKept = 0;  // the most of the package any attempt kept so far
    const auto attempt = [&](int number, int triesUsed) {
        if (number > 1) {
            // The status line and the progress bar start again with the new attempt.
            run.Post(WM_DOWNLOAD_RETRY);
            PostProgress(run.window, request.resume.Usable() ? request.resume.bytes : 0, 1);
        }
        request.attempt = number;
        TransferResult result = run.seams.transfer(request);
        AttemptOutcome outcome = result.outcome;
        if (outcome.kind == AttemptOutcome::Kind::Transient || outcome.kind == AttemptOutcome::Kind::Permanent) {
            failure = result.failure;
            failureError = result.error;
            outcome.keptProgress =
                outcome.kind == AttemptOutcome::Kind::Transient && result.kept.Usable() && result.kept.bytes > mostKept;
            Log(LogLevel::Warning, "Download attempt ", static_cast<unsigned>(triesUsed + 1), " of ",
                static_cast<unsigned>(kMaxDownloadAttempts), " failed: ", outcome.reason,
                outcome.keptProgress ? " (" + std::to_string(result.kept.bytes) +
                                           " bytes are kept for the next attempt, so this one does not count)"
                                     : std::string());
        }
        request.resume = result.kept.Usable() ? result.kept : ResumePoint{};
        mostKept = std::max(mostKept, request.resume.bytes);
        return outcome;
    };
    const auto retrying = [](int, const AttemptOutcome&, std::chrono::milliseconds delay) {
        Log(LogLevel::Note, "Trying the download again in ", Seconds(delay));
    };
    RemoveAttemptFiles(request.file);
    const AttemptOutcome outcome = RunWithRetries(attempt, run.seams.pause, retrying, run.timing.firstRetryDelay);
    RemoveAttemptFiles(request.file);

    const bool done = outcome.kind == AttemptOutcome::Kind::Succeeded;
    const bool cancelled = run.Cancelled();
    if (done && !cancelled) {
        Log(LogLevel::Note, "Downloading finished");
        run.Post(WM_DOWNLOAD_DONE);
    } else if (!done && cancelled) {
        Log(LogLevel::Note, "Downloading canceled");
    } else if (!done) {
        run.ReportError(failure + "\nCheck your Internet connection.", failureError);
    }
}
