#include "install/download/package_transfer.h"

#include <winhttp.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <utility>

#include "common/log.h"
#include "common/system_error_text.h"
#include "install/cancel_signal.h"
#include "install/download/transfer_attempt.h"

namespace {

constexpr char kContext[] = "Downloading install files";
constexpr DWORD kWaitSliceMs = 250;
// How long a stopped transfer gets to end before it is left behind.
constexpr DWORD kGraceAfterStopMs = 3000;

AttemptOutcome Failed(bool transient, std::string reason) {
    return AttemptOutcome{transient ? AttemptOutcome::Kind::Transient : AttemptOutcome::Kind::Permanent,
                          std::move(reason), std::nullopt, false};
}

// The attempt's own file, holding what the attempt before kept when it can go on from there.
std::wstring PrepareAttemptFile(const TransferRequest& request, ResumePoint& resume) {
    const std::wstring file = AttemptFile(request.file, request.attempt);
    if (resume.Usable() && request.attempt > 1 &&
        !MoveFileExW(AttemptFile(request.file, request.attempt - 1).c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING))
        resume = {};  // still held by a transfer left behind: start over
    return file;
}

// The transfer thread's body.
void RunAttempt(const std::shared_ptr<Attempt>& attempt) {
    TransferResult result = RunHttpTransfer(*attempt);
    attempt->CloseAll();
    if (result.outcome.kind != AttemptOutcome::Kind::Succeeded && !result.kept.Usable())
        DeleteFileW(attempt->file.c_str());
    attempt->result = std::move(result);
    SetEvent(attempt->finished.get());
}

// Stops the transfer and waits a moment for it; a transfer that does not end is left behind.
bool StopAttempt(Attempt& attempt, std::thread& transfer) {
    attempt.stop.store(true);
    attempt.CloseAll();
    if (WaitForSingleObject(attempt.finished.get(), kGraceAfterStopMs) == WAIT_OBJECT_0) {
        transfer.join();
        return true;
    }
    transfer.detach();
    LogWarning("The transfer did not stop when asked; it is left to end with the program");
    return false;
}

// A finished attempt: a package that arrived whole takes the place of the package file.
TransferResult Keep(const Attempt& attempt, const std::wstring& file) {
    TransferResult result = attempt.result;
    if (result.outcome.kind != AttemptOutcome::Kind::Succeeded) return result;
    if (!MoveFileExW(attempt.file.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        result.error = GetLastError();
        result.failure = SystemErrorText(kContext);
        result.outcome = Failed(false, "the package cannot be put in place: " + result.failure);
        DeleteFileW(attempt.file.c_str());
    }
    return result;
}

}  // namespace

std::wstring AttemptFile(const std::wstring& file, int attempt) { return file + L".part" + std::to_wstring(attempt); }

void RemoveAttemptFiles(const std::wstring& file) {
    // A file still held by a transfer left behind is not removable; the folder's removal at the
    // end of the run takes it.
    const std::wstring folder = file.substr(0, file.find_last_of(L'\\') + 1);
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((file + L".part*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        DeleteFileW((folder + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::wstring ResolveLocation(const std::wstring& base, const std::wstring& location) {
    if (location.empty()) return {};
    const size_t schemeEnd = base.find(L"://");
    if (location.find(L"://") != std::wstring::npos) return location;
    if (schemeEnd == std::wstring::npos) return {};
    if (location.rfind(L"//", 0) == 0) return base.substr(0, schemeEnd + 1) + location;  // same scheme
    const size_t pathStart = base.find(L'/', schemeEnd + 3);
    const std::wstring origin = pathStart == std::wstring::npos ? base : base.substr(0, pathStart);
    if (location[0] == L'/') return origin + location;
    const size_t query = base.find_first_of(L"?#", schemeEnd + 3);
    const std::wstring path = base.substr(0, query);
    const size_t lastSlash = path.rfind(L'/');
    return (lastSlash != std::wstring::npos && lastSlash >= schemeEnd + 3 ? path.substr(0, lastSlash + 1)
                                                                          : origin + L"/") +
           location;
}

TransferResult TransferPackage(const TransferRequest& asked) {
    TransferRequest request = asked;
    const std::wstring file = PrepareAttemptFile(request, request.resume);
    auto attempt = std::make_shared<Attempt>(request, file);
    if (!attempt->finished) {
        TransferResult result;
        result.error = GetLastError();
        result.failure = SystemErrorText(kContext);
        result.outcome = Failed(false, result.failure);
        return result;
    }
    std::thread transfer(RunAttempt, attempt);
    const HANDLE cancelEvent = request.cancel ? request.cancel->Event() : nullptr;
    const HANDLE watched[] = {attempt->finished.get(), cancelEvent};
    for (;;) {
        const DWORD slice =
            static_cast<DWORD>(std::min<long long>(attempt->stall.TimeLeft().count() + 1, kWaitSliceMs));
        const DWORD woke = WaitForMultipleObjects(cancelEvent ? 2 : 1, watched, FALSE, slice);
        if (woke == WAIT_OBJECT_0) {
            transfer.join();
            return Keep(*attempt, request.file);
        }
        const bool cancelled = request.cancel && request.cancel->IsRequested();
        if (cancelled || attempt->stall.Stalled() || woke == WAIT_FAILED) {
            const bool ended = StopAttempt(*attempt, transfer);
            TransferResult result;
            if (ended) result.kept = attempt->result.kept;  // a left-behind transfer keeps its file
            if (cancelled) {
                result.outcome = AttemptOutcome{AttemptOutcome::Kind::Cancelled, "cancelled", {}, false};
                return result;
            }
            result.outcome =
                Failed(true, "no data arrived for " + std::to_string(attempt->stall.Limit().count() / 1000) + " s");
            result.error = ERROR_WINHTTP_TIMEOUT;
            result.failure =
                FormatSystemError(kContext, ERROR_WINHTTP_TIMEOUT, NetworkErrorText(ERROR_WINHTTP_TIMEOUT));
            return result;
        }
    }
}
