#include "install/download_stage.h"

#include <objbase.h>

#include <chrono>
#include <memory>
#include <thread>

#include "common/log.h"
#include "common/system_library.h"
#include "common/system_error_text.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "install/download_url.h"
#include "install/run_context.h"
#include "install/window_messages.h"

namespace {

// COM for the download worker, for as long as the stage runs.
class ComApartment {
public:
    ComApartment() : m_initialized(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (m_initialized) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool m_initialized;
};

// The address is ASCII: each byte becomes one UTF-16 code unit.
std::wstring WidenBytes(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (const char byte : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
    return wide;
}

constexpr DWORD kFirstHttpErrorStatus = 400;

// ERROR_SUCCESS when the package file arrived whole; otherwise the code that says why not, for
// the failure text.
DWORD DownloadError(HRESULT result, const DownloadStatusHandler& handler, const std::wstring& packagePath) {
    // The HTTP status first: where the callback's refusal of an error page ends the transfer, the
    // moniker's result only says "aborted".
    if (handler.HttpStatus() >= kFirstHttpErrorStatus) {
        Log(LogLevel::Error, "The server answered with HTTP status ", handler.HttpStatus());
        return static_cast<DWORD>(handler.HttpStatus() == 404 ? INET_E_RESOURCE_NOT_FOUND : INET_E_DOWNLOAD_FAILURE);
    }
    if (result != S_OK) return static_cast<DWORD>(result);
    WIN32_FILE_ATTRIBUTE_DATA file{};
    if (!GetFileAttributesExW(packagePath.c_str(), GetFileExInfoStandard, &file)) return GetLastError();
    if (file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_FILE_NOT_FOUND;
    const unsigned long long size = (static_cast<unsigned long long>(file.nFileSizeHigh) << 32) | file.nFileSizeLow;
    if (handler.AnnouncedSize() != 0 && size < handler.AnnouncedSize()) {
        Log(LogLevel::Error, "The download ended after ", size, " of ", handler.AnnouncedSize(), " bytes");
        return static_cast<DWORD>(INET_E_DOWNLOAD_FAILURE);
    }
    return ERROR_SUCCESS;
}

}  // namespace

HRESULT STDMETHODCALLTYPE DownloadStatusHandler::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    // Only the HTTP status is of interest beyond the progress; the out pointer is cleared
    // otherwise, as every caller may expect.
    if (IsEqualIID(riid, IID_IHttpNegotiate)) {
        *object = static_cast<IHttpNegotiate*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DownloadStatusHandler::OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG, LPCWSTR) {
    if (m_stop.load()) return E_ABORT;
    if (!IsWindow(m_window)) return E_ABORT;
    // Without a total there is nothing the progress bar could show.
    if (ulProgressMax != 0) {
        m_announcedSize = ulProgressMax;
        PostMessageW(m_window, WM_INSTALL_PROGRESS, ulProgress, ulProgressMax);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusHandler::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                                    LPWSTR* additionalHeaders) {
    if (additionalHeaders) *additionalHeaders = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusHandler::OnResponse(DWORD responseCode, LPCWSTR, LPCWSTR,
                                                          LPWSTR* additionalHeaders) {
    if (additionalHeaders) *additionalHeaders = nullptr;
    m_httpStatus = responseCode;
    // An error page is not the package: stop the transfer where the moniker allows it.
    return responseCode >= kFirstHttpErrorStatus ? E_ABORT : S_OK;
}

namespace {

// One transfer of the package. It runs on a thread of its own because URLDownloadToFileW cannot
// be stopped from outside: a cancel reaches it only through the next progress call, and a server
// that has gone silent makes none. The stage waits for the transfer only while the run is not
// cancelled; a transfer that does not end soon after a cancel is left behind with this shared
// state, which is all it touches, and ends with the process.
struct Transfer {
    std::wstring url;
    std::wstring packagePath;
    HWND window = nullptr;
    std::atomic<bool> stop{false};  // set once the run is cancelled
    unique_handle finished{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    bool done = false;
    std::string failure;  // the failure text, made on the transfer's thread right after the call
};

void RunTransfer(const std::shared_ptr<Transfer>& transfer) {
    {
        ComApartment com;
        DownloadStatusHandler handler(transfer->window, transfer->stop);
        // urlmon is no KnownDLL: it is reached from System32 only, never from the program's folder.
        const auto download = SystemFunction<decltype(&URLDownloadToFileW)>(L"urlmon.dll", "URLDownloadToFileW");
        const HRESULT result = download ? download(nullptr, transfer->url.c_str(), transfer->packagePath.c_str(), 0,
                                                   static_cast<IBindStatusCallback*>(&handler))
                                        : HRESULT_FROM_WIN32(GetLastError());
        const DWORD error = DownloadError(result, handler, transfer->packagePath);
        transfer->done = error == ERROR_SUCCESS;
        if (!transfer->done) {
            SetLastError(error);
            transfer->failure = SystemErrorText("Downloading install files");
        }
    }
    SetEvent(transfer->finished.get());
}

constexpr DWORD kCancelPollMilliseconds = 100;
constexpr auto kGraceAfterCancel = std::chrono::seconds(3);

// Waits for the transfer; true when it ended, false when the run was cancelled and the transfer
// did not end within the grace period.
bool WaitForTransfer(Transfer& transfer, const CancelSignal& cancel) {
    auto cancelSeen = std::chrono::steady_clock::time_point::max();
    while (WaitForSingleObject(transfer.finished.get(), kCancelPollMilliseconds) == WAIT_TIMEOUT) {
        const auto now = std::chrono::steady_clock::now();
        if (cancel.IsRequested() && cancelSeen == std::chrono::steady_clock::time_point::max()) {
            cancelSeen = now;
            transfer.stop.store(true);
        }
        if (now - cancelSeen >= kGraceAfterCancel) return false;
    }
    return true;
}

}  // namespace

TransferResult TransferPackage(const TransferRequest& request) {
    auto transfer = std::make_shared<Transfer>();
    transfer->url = request.url;
    transfer->packagePath = request.file;
    transfer->window = request.window;

    TransferResult result;
    if (!transfer->finished) {
        result.failure = SystemErrorText("Downloading install files");
        return result;
    }
    std::thread worker(RunTransfer, transfer);
    if (WaitForTransfer(*transfer, *request.cancel)) {
        worker.join();
        result.complete = transfer->done;
        result.failure = transfer->failure;
    } else {
        worker.detach();
        LogWarning("The download did not stop after the cancel; it is left to end with the program");
    }
    return result;
}

void DownloadStage(RunContext& run) {
    const bool use32Bit = run.choices.use32Bit;
    Log(LogLevel::Note, use32Bit ? "Installing 32 bit app build" : "Installing 64 bit app build");
    TransferRequest request;
    request.url = WidenBytes(use32Bit ? GetDownloadUrl32() : GetDownloadUrl64());
    request.file = run.packagePath;
    request.window = run.window;
    request.cancel = &run.cancel;
    Log(LogLevel::Note, "Downloading install files to: ", WideToUtf8(request.file));

    const TransferResult result = run.seams.transfer(request);
    const bool cancelled = run.Cancelled();
    if (result.complete && !cancelled) {
        Log(LogLevel::Note, "Downloading finished");
        run.Post(WM_DOWNLOAD_DONE);
    } else if (!result.complete && cancelled) {
        Log(LogLevel::Note, "Downloading canceled");
    } else if (!result.complete) {
        run.ReportError(result.failure + "\nCheck your Internet connection.");
    }
}
