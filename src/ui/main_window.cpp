#include "ui/main_window.h"

#include <commctrl.h>

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
    {WM_INSTALL_FAILED, &CMainWindow::OnInstallFailed},
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

void CMainWindow::SetStatusText(std::wstring text) {
    if (m_choices.silent) {
        WriteConsoleLine(text);
        return;
    }
    if (g_cancelRequested.load()) return;
    InvalidateRect(m_hWnd, nullptr, TRUE);
    SetDlgItemTextW(m_hWnd, IDC_STATUS_TEXT, text.c_str());
}

void CMainWindow::ShowCancelButton() {
    const HWND button = GetDlgItem(m_hWnd, IDC_CANCEL_BUTTON);
    ShowWindow(button, SW_SHOW);
    SetWindowTextW(button, Text(TEXT_CANCEL).c_str());
}

// Runs on the UI thread (the pipeline hands failures over by message). The text is UTF-8, so the
// box is given it as UTF-16.
void CMainWindow::ShowFailure(const std::string& message) {
    if (m_choices.silent) {
        WriteConsoleLine(message);
        return;
    }
    SetStatusText(Text(TEXT_ERROR));
    ShowWindow(GetDlgItem(m_hWnd, IDC_PROGRESS_BAR), SW_HIDE);
    MessageBoxW(m_hWnd, Utf8ToWide(message).c_str(), Utf8ToWide(GetProductName()).c_str(), MB_ICONERROR);
}

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
    PostQuitMessage(m_pipeline.ExitCode());
    return 0;
}

// Every run ends here: the pipeline stops its stage, cleans up and posts WM_DESTROY.
std::optional<LRESULT> CMainWindow::OnClose(WPARAM, LPARAM) {
    m_pipeline.Close();
    return 0;
}

// The dialog's own painting and the static's default colours.
std::optional<LRESULT> CMainWindow::OnPaint(WPARAM, LPARAM) { return std::nullopt; }

std::optional<LRESULT> CMainWindow::OnCtlColorStatic(WPARAM, LPARAM) { return std::nullopt; }

std::optional<LRESULT> CMainWindow::OnInstallStart(WPARAM, LPARAM) {
    m_pipeline.StartInstallation();
    return 0;
}

// Position and maximum are full 32-bit values: a download's byte counts exceed 65535.
std::optional<LRESULT> CMainWindow::OnInstallProgress(WPARAM position, LPARAM maximum) {
    if (m_choices.silent || g_cancelRequested.load()) return 0;
    const HWND bar = GetDlgItem(m_hWnd, IDC_PROGRESS_BAR);
    SendMessageW(bar, PBM_SETRANGE32, 0, maximum);
    SendMessageW(bar, PBM_SETPOS, position, 0);
    return 0;
}

std::optional<LRESULT> CMainWindow::OnDownloadDone(WPARAM, LPARAM) {
    m_pipeline.OnDownloadDone();
    return 0;
}

std::optional<LRESULT> CMainWindow::OnExtractDone(WPARAM, LPARAM) {
    m_pipeline.OnExtractDone();
    return 0;
}

std::optional<LRESULT> CMainWindow::OnInstallFailed(WPARAM, LPARAM) {
    m_pipeline.OnInstallFailed();
    return 0;
}
