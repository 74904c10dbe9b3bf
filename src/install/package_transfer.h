#pragma once
// One transfer of the package from its address into a file: the seam between the download stage
// and the network.
#ifdef _WIN32
#include <windows.h>

#include <functional>
#include <string>

#include "install/cancel_signal.h"

struct TransferRequest {
    std::wstring url;
    std::wstring file;                  // where the package goes
    HWND window = nullptr;              // receives WM_INSTALL_PROGRESS
    const CancelSignal* cancel = nullptr;
};

struct TransferResult {
    bool complete = false;  // the whole package is in the file
    std::string failure;    // otherwise why not, as a sentence (SystemErrorText)
};

using PackageTransferFunction = std::function<TransferResult(const TransferRequest&)>;

// The real transfer over the network.
TransferResult TransferPackage(const TransferRequest& request);
#endif
