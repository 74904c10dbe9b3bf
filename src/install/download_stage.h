#pragma once
// First stage: fetches the package of the chosen build into the package file of the run.
#ifdef _WIN32
#include <windows.h>
#include <urlmon.h>

#include <atomic>

class RunContext;

// The status callback of the download: forwards byte progress to the window and aborts the
// transfer once the run is cancelled or the window is gone. It lives on the download worker's
// stack for the duration of one URLDownloadToFileW call, so it counts no references.
//
// It also watches what the moniker itself does not treat as a failure: it may save an HTTP error
// page, or the part of a body that arrived before the connection broke, and still answer S_OK.
// So the handler keeps the HTTP status (through IHttpNegotiate) and the size the server announced.
class DownloadStatusHandler final : public IBindStatusCallback, public IHttpNegotiate {
public:
    // |stop| is set when the transfer is to end (the run was cancelled).
    DownloadStatusHandler(HWND window, const std::atomic<bool>& stop) : m_window(window), m_stop(stop) {}

    DWORD HttpStatus() const { return m_httpStatus; }
    ULONG AnnouncedSize() const { return m_announcedSize; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 0; }
    ULONG STDMETHODCALLTYPE Release() override { return 0; }
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG ulStatusCode,
                                         LPCWSTR szStatusText) override;
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additionalHeaders) override;
    HRESULT STDMETHODCALLTYPE OnResponse(DWORD responseCode, LPCWSTR, LPCWSTR, LPWSTR* additionalHeaders) override;

private:
    HWND m_window;
    const std::atomic<bool>& m_stop;
    DWORD m_httpStatus = 0;
    ULONG m_announcedSize = 0;
};

// Worker body: logs the build, downloads, and posts WM_DOWNLOAD_DONE, or reports the failure
// ("... \nCheck your Internet connection."), or logs "Downloading canceled".
void DownloadStage(RunContext& run);
#endif
