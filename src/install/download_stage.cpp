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

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

HRESULT STDMETHODCALLTYPE DownloadStatusHandler::QueryInterface(REFIID, void** object) {
    // No further interfaces are offered; the out pointer is cleared as every caller may expect.
    if (object) *object = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DownloadStatusHandler::OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG, LPCWSTR) {
    if (g_cancelRequested.load()) return E_ABORT;
    if (!IsWindow(m_window)) return E_ABORT;
    // Without a total there is nothing the progress bar could show.
    if (ulProgressMax != 0) PostMessageW(m_window, WM_INSTALL_PROGRESS, ulProgress, ulProgressMax);
    return S_OK;
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
        const HRESULT result = URLDownloadToFileW(nullptr, url.c_str(), packagePath.c_str(), 0, &handler);
        done = result == S_OK && FileExists(packagePath);
        if (result != S_OK) SetLastError(static_cast<DWORD>(result));
        if (!done) failure = SystemErrorText("Downloading install files");
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
