#include "ui/main_window.h"

#include "common/console.h"
#include "common/log.h"
#include "common/text.h"
#include "install/window_messages.h"
#include "ui/globals.h"
#include "ui/product_name.h"
#include "ui/resources/resource_ids.h"

namespace {

std::wstring TemporaryFolder() {
    std::wstring folder(MAX_PATH + 1, L'\0');
    DWORD length = GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
    if (length > folder.size()) {  // a longer temporary folder: the call told us its size
        folder.assign(length, L'\0');
        length = GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
    }
    folder.resize(length <= folder.size() ? length : 0);
    return folder;
}

}  // namespace

std::wstring WorkFolderIn(const std::wstring& tempFolder) {
    return tempFolder + Utf8ToWide(GetProductName()) + L"\\";
}

// The order of tests: the cancel button's command first, then the window's own messages, then
// the installation's messages. Whatever is not here falls to the reflection rule.
const CMainWindow::MessageHandler CMainWindow::kMessageTable[] = {
    {WM_COMMAND, &CMainWindow::OnCommand},
    {WM_INITDIALOG, &CMainWindow::OnInitDialog},
    {WM_DESTROY, &CMainWindow::OnDestroy},
    {WM_CLOSE, &CMainWindow::OnClose},
    {WM_PAINT, &CMainWindow::OnPaint},
    {WM_CTLCOLORSTATIC, &CMainWindow::OnCtlColorStatic},
    {WM_INSTALL_START, &CMainWindow::OnInstallStart},
    {WM_INSTALL_PROGRESS, &CMainWindow::OnInstallProgress},
    {WM_DOWNLOAD_DONE, &CMainWindow::OnDownloadDone},
    {WM_EXTRACT_DONE, &CMainWindow::OnExtractDone},
};

CMainWindow::CMainWindow() : m_workPath(WorkFolderIn(TemporaryFolder())) {
    OpenLog(m_workPath + L"installation_log.txt");
    g_mainWindow = this;
}

CMainWindow::~CMainWindow() {
    g_mainWindow = nullptr;
    if (m_consoleAttached) FreeParentConsole();
    if (m_hWnd != nullptr) DestroyWindow(m_hWnd);
    Log(LogLevel::Note, "Main window destroyed, exiting...");
}

HWND CMainWindow::CreateHidden(HINSTANCE module) { return Create(module, IDD_MAIN_WINDOW, GetActiveWindow()); }

void CMainWindow::AttachParentConsole() {
    if (m_consoleAttached) return;
    m_consoleAttached = ::AttachParentConsole();
}

std::wstring CMainWindow::Text(TextIndex index) const {
    return index < m_texts.size() ? m_texts[index] : std::wstring();
}

void CMainWindow::ReportError(const std::string& message) {
    LogError(message);
    if (g_cancelRequested.load()) return;
    if (m_choices.silent)
        WriteConsoleLine(message);
    else
        MessageBoxW(m_hWnd, Utf8ToWide(message).c_str(), Utf8ToWide(GetProductName()).c_str(), MB_ICONERROR);
    PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
}

// Asynchronous: the caller may be a worker while the UI thread waits for that worker.
void CMainWindow::HideWindow() { ShowWindowAsync(m_hWnd, SW_HIDE); }

std::optional<LRESULT> CMainWindow::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    for (const MessageHandler& row : kMessageTable)
        if (row.message == message) return (this->*row.handle)(wParam, lParam);
    return std::nullopt;
}

std::optional<LRESULT> CMainWindow::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (LOWORD(wParam) == IDC_CANCEL_BUTTON) return OnCancelCommand(wParam, lParam);
    return std::nullopt;  // reflected to the control that sent it
}

// Any notification of the cancel button counts as a click.
std::optional<LRESULT> CMainWindow::OnCancelCommand(WPARAM, LPARAM) {
    PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
    return 0;
}

std::optional<LRESULT> CMainWindow::OnInitDialog(WPARAM, LPARAM) {
    std::wstring title = Utf8ToWide(GetProductName());
    const std::wstring titleLine = Text(TEXT_INSTALLER);
    if (!titleLine.empty()) title += L" " + titleLine;
    Log(LogLevel::Note, WideToUtf8(title));
    SetWindowTextW(m_hWnd, title.c_str());
    return 0;  // no default focus
}

// The dialog itself is destroyed by the destructor; here only the message loop is ended, with
// the run's outcome as its code.
std::optional<LRESULT> CMainWindow::OnDestroy(WPARAM, LPARAM) {
    PostQuitMessage(m_exitCode);
    return 0;
}

// With no stage running, closing only ends the message loop.
std::optional<LRESULT> CMainWindow::OnClose(WPARAM, LPARAM) {
    PostMessageW(m_hWnd, WM_DESTROY, 0, 0);
    return 0;
}

// The dialog's own painting and the static's default colours.
std::optional<LRESULT> CMainWindow::OnPaint(WPARAM, LPARAM) { return std::nullopt; }

std::optional<LRESULT> CMainWindow::OnCtlColorStatic(WPARAM, LPARAM) { return std::nullopt; }

// The installation's messages: no stages are wired to the window yet, so they change nothing.
std::optional<LRESULT> CMainWindow::OnInstallStart(WPARAM, LPARAM) { return 0; }

std::optional<LRESULT> CMainWindow::OnInstallProgress(WPARAM, LPARAM) { return 0; }

std::optional<LRESULT> CMainWindow::OnDownloadDone(WPARAM, LPARAM) { return 0; }

std::optional<LRESULT> CMainWindow::OnExtractDone(WPARAM, LPARAM) { return 0; }
