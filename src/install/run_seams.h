#pragma once
// The calls a stage makes outside the program, and the types they trade in: one place for every
// seam that a test can replace. The pipeline fills the real ones in; a test puts its own in their
// place before a stage runs.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// A transfer that receives no byte for this long has stalled.
inline constexpr std::chrono::seconds kStallLimit{30};

// What one download attempt came to.
struct AttemptOutcome {
    enum class Kind { Succeeded, Cancelled, Transient, Permanent };
    Kind kind = Kind::Permanent;
    std::string reason;                              // why it failed, for the log
    std::optional<std::chrono::seconds> retryAfter;  // the server's wish, if any
    // A transient failure that kept more of the package for the next attempt than there was
    // before it: it does not use up one of the tries.
    bool keptProgress = false;
};

// The download's pauses and limits. The real values are the defaults; only the test copy of the
// program is built with shorter ones (see the program's entry point).
struct DownloadTiming {
    std::chrono::milliseconds firstRetryDelay{std::chrono::seconds(2)};  // doubled for each failure
    std::chrono::milliseconds stallLimit{kStallLimit};                   // no byte for this long fails
};

// What a download attempt's file holds of the package, for the next attempt.
struct ResumePoint {
    std::uint64_t bytes = 0;  // the package's first bytes, in the file
    std::string validator;    // the first answer's strong ETag, else its Last-Modified
    bool Usable() const { return bytes > 0 && !validator.empty(); }
};

#ifdef _WIN32
#include <windows.h>

#include <functional>

class CancelSignal;

// One attempt at transferring the package from its address into a file.
struct TransferRequest {
    std::wstring url;
    std::wstring file;      // where the whole package goes when the attempt succeeds
    int attempt = 1;        // counting from 1; each attempt receives into a file of its own
    HWND window = nullptr;  // receives WM_INSTALL_PROGRESS (bytes so far, bytes in all)
    const CancelSignal* cancel = nullptr;
    std::chrono::milliseconds stallLimit = kStallLimit;
    std::optional<std::string> proxy;  // the --proxy option ("direct" for none)
    ResumePoint resume;                // what the attempt before kept in its file
};

struct TransferResult {
    AttemptOutcome outcome;   // the kind, the reason for the log, the server's Retry-After
    std::string failure;      // for the user: "Downloading install files failed with error ..."
    unsigned long error = 0;  // the system or network error in |failure|
    ResumePoint kept;         // what this attempt's file holds for the next one, when it failed
};

using PackageTransferFunction = std::function<TransferResult(const TransferRequest&)>;

// CreateProcessW with what varies between calls: the program, its writable command line and the
// folder to start it in; fills |started| like CreateProcessW.
using StartProcessFunction = std::function<bool(const std::wstring& program, wchar_t* commandLine,
                                                const std::wstring& folder, PROCESS_INFORMATION& started)>;

struct RunSeams {
    PackageTransferFunction transfer;   // one transfer of the package
    StartProcessFunction startProcess;  // the start of a setup program
    // Waits |delay| unless the run is cancelled first; false when it was cancelled.
    std::function<bool(std::chrono::milliseconds delay)> pause;
    // The exit code of a setup program that has ended (GetExitCodeProcess); false when unknown.
    std::function<bool(HANDLE process, unsigned long& code)> exitCode;
};
#endif
