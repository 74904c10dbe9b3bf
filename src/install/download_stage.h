#pragma once
// First stage: fetches the package of the chosen build into the package file of the run.
#ifdef _WIN32
#include <windows.h>
#include <urlmon.h>

class InstallationPipeline;

// The status callback of the download: forwards byte progress to the window and aborts the
// transfer once the run is cancelled or the window is gone. It lives on the download worker's
// stack for the duration of one URLDownloadToFileW call, so it counts no references.
class DownloadStatusHandler final : public IBindStatusCallback {
public:
    explicit DownloadStatusHandler(HWND window) : m_window(window) {}

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

private:
    HWND m_window;
};

// Worker body: logs the build, downloads, and posts WM_DOWNLOAD_DONE, or reports the failure
// ("... \nCheck your Internet connection."), or logs "Downloading canceled".
void DownloadStage(InstallationPipeline& run);
#endif
