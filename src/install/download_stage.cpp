#include "install/download_stage.h"

#include <objbase.h>

#include "common/log.h"
#include "common/system_error_text.h"
#include "common/text.h"
#include "install/download_url.h"
#include "install/pipeline.h"
#include "install/run_state.h"
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
    if (g_cancelRequested.load()) return E_ABORT;
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

void DownloadStage(InstallationPipeline& run) {
    const bool use32Bit = run.Choices().use32Bit;
    Log(LogLevel::Note, use32Bit ? "Installing 32 bit app build" : "Installing 64 bit app build");
    const std::wstring url = WidenBytes(use32Bit ? GetDownloadUrl32() : GetDownloadUrl64());
    const std::wstring& packagePath = run.PackagePath();
    Log(LogLevel::Note, "Downloading install files to: ", WideToUtf8(packagePath));

    bool done = false;
    std::string failure;
    {
        ComApartment com;
        DownloadStatusHandler handler(run.Window());
        const HRESULT result = URLDownloadToFileW(nullptr, url.c_str(), packagePath.c_str(), 0,
                                                  static_cast<IBindStatusCallback*>(&handler));
        const DWORD error = DownloadError(result, handler, packagePath);
        done = error == ERROR_SUCCESS;
        if (!done) {
            SetLastError(error);
            failure = SystemErrorText("Downloading install files");
        }
    }

    const bool cancelled = g_cancelRequested.load();
    if (done && !cancelled) {
        Log(LogLevel::Note, "Downloading finished");
        PostMessageW(run.Window(), WM_DOWNLOAD_DONE, 0, 0);
    } else if (!done && cancelled) {
        Log(LogLevel::Note, "Downloading canceled");
    } else if (!done) {
        run.ReportError(failure + "\nCheck your Internet connection.");
    }
}
