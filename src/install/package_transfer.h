#pragma once
// One attempt at transferring the package from its address into a file: the seam between the
// download stage and the network. The real one speaks HTTP through the system's WinINet with the
// user's proxy settings, never reads from or writes to the internet cache, follows redirects
// itself (an https address never ends up on anything but https), and gives up on a transfer that
// receives no byte for the stall limit.
#ifdef _WIN32
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

#include "install/cancel_signal.h"
#include "install/retry_policy.h"
#include "install/stall_watch.h"

struct TransferRequest {
    std::wstring url;
    std::wstring file;     // where the whole package goes when the attempt succeeds
    int attempt = 1;       // counting from 1; each attempt receives into a file of its own
    HWND window = nullptr;  // receives WM_INSTALL_PROGRESS (bytes so far, bytes in all)
    const CancelSignal* cancel = nullptr;
    std::chrono::milliseconds stallLimit = kStallLimit;
};

struct TransferResult {
    AttemptOutcome outcome;  // the kind, the reason for the log, the server's Retry-After
    std::string failure;     // for the user: "Downloading install files failed with error ..."
    unsigned long error = 0;  // the system or WinINet error in |failure|
};

using PackageTransferFunction = std::function<TransferResult(const TransferRequest&)>;

// The real transfer over the network.
TransferResult TransferPackage(const TransferRequest& request);

// Whether a WinINet or system error of a failed connection or read is worth another attempt:
// a refused, reset or dropped connection, a name that does not resolve, a timeout.
bool IsTransientNetworkError(DWORD error);

// The file an attempt receives into before it is moved to |file|: "<file>.partN".
std::wstring AttemptFile(const std::wstring& file, int attempt);

// Removes what earlier attempts (of this run or an earlier one) left of their files.
void RemoveAttemptFiles(const std::wstring& file);

// The absolute address a redirect's Location names, from the address that was asked for.
std::wstring ResolveLocation(const std::wstring& base, const std::wstring& location);
#endif
