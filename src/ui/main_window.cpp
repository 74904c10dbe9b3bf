#include "ui/main_window.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <utility>

#include "common/console.h"
#include "common/log.h"
#include "common/system_library.h"
#include "common/text.h"
#include "install/window_messages.h"
#include "ui/product_name.h"
#include "ui/resources/resource_ids.h"
#include "ui/translations.h"
#include "ui/window_placement.h"

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kProgressBarColor = RGB(236, 14, 36);
constexpr COLORREF kButtonFaceColor = RGB(220, 20, 60);
constexpr int kButtonCornerSize = 5;
constexpr int kStatusFontHeight = 22;  // pixels at 96 DPI

unique_gdi<HFONT> CreateStatusFont(UINT dpi) {
    return unique_gdi<HFONT>(CreateFontW(ScaleToDpi(kStatusFontHeight, dpi), 0, 0, 0, 300, FALSE, FALSE, FALSE,
                                         DEFAULT_CHARSET, OUT_OUTLINE_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                         VARIABLE_PITCH, L"Arial"));
}

}  // namespace

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
    {WM_DPICHANGED, &CMainWindow::OnDpiChanged},
    {WM_DOWNLOAD_RETRY, &CMainWindow::OnDownloadRetry},
};

CMainWindow::CMainWindow(RunSettings settings) : m_pipeline(*this, std::move(settings)) {}

CMainWindow::~CMainWindow() {
    if (m_hWnd != nullptr) DestroyWindow(m_hWnd);
    Log(LogLevel::Note, "Main window destroyed, exiting...");
}

HWND CMainWindow::CreateHidden(HINSTANCE module) { return Create(module, IDD_MAIN_WINDOW, GetActiveWindow()); }

std::wstring CMainWindow::Text(TextIndex index) const {
    return index < m_texts.size() ? m_texts[index] : std::wstring();
}

void CMainWindow::ShowCancelButton() {
    const HWND button = GetDlgItem(m_hWnd, IDC_CANCEL_BUTTON);
    // Labelled first, so that nobody ever sees the button without its label.
    SetWindowTextW(button, Text(TEXT_CANCEL).c_str());
    ShowWindow(button, SW_SHOW);
}

// Runs on the UI thread (the pipeline hands failures over by message). The text is UTF-8, so the
// box is given it as UTF-16.
void CMainWindow::ShowFailure(const std::string& message) {
    if (m_pipeline.Silent()) {
        WriteConsoleLine(message);
        return;
    }
    // The bar goes first: nobody sees the error line above a bar that still shows progress.
    ShowWindow(GetDlgItem(m_hWnd, IDC_PROGRESS_BAR), SW_HIDE);
    SetStatusText(Text(TEXT_ERROR));
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
    const auto module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(m_hWnd, GWLP_HINSTANCE));
    CenterWindow(m_hWnd);
    const HICON icon = LoadIconW(module, MAKEINTRESOURCEW(IDI_APP_ICON));
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    LoadTranslation(TranslationIdForUser(), m_texts, module);

    m_progressBar = GetDlgItem(m_hWnd, IDC_PROGRESS_BAR);
    // A themed progress bar ignores its colours; where a theme would apply to it (some systems
    // theme every common control), the bar is switched back to the classic look.
    // uxtheme is no KnownDLL: reached from System32 only. Without it there is no theme to undo.
    if (const auto setTheme = SystemFunction<decltype(&SetWindowTheme)>(L"uxtheme.dll", "SetWindowTheme"))
        setTheme(m_progressBar, L" ", L" ");
    SendMessageW(m_progressBar, PBM_SETBKCOLOR, 0, kWhite);
    SendMessageW(m_progressBar, PBM_SETBARCOLOR, 0, kProgressBarColor);

    m_cancelButton.SubclassWindow(GetDlgItem(m_hWnd, IDC_CANCEL_BUTTON));
    m_cancelButton.m_textColor = kWhite;
    m_cancelButton.m_faceColor = kButtonFaceColor;
    m_cancelButton.m_cornerSize = kButtonCornerSize;
    // Only the mouse cancels: a key press (Space on a button that a press slid off left
    // focused) must not end the installation. Alt+F4 and the close box still do.
    m_cancelButton.m_keyboardPresses = false;

    m_statusText = GetDlgItem(m_hWnd, IDC_STATUS_TEXT);
    // The dialog manager has laid out the template for the DPI of the window's monitor.
    m_dpi = WindowDpi(m_hWnd);
    HandleDialogDpiChangesMyself(m_hWnd);
    m_layout.Capture(m_hWnd, m_dpi);
    ScaleOwnDrawing();

    std::wstring title = Utf8ToWide(GetProductName());
    const std::wstring titleLine = Text(TEXT_INSTALLER);
    if (!titleLine.empty()) title += L" " + titleLine;
    Log(LogLevel::Note, WideToUtf8(title));
    SetWindowTextW(m_hWnd, title.c_str());
    return 0;  // no default focus
}

void CMainWindow::SetStatusText(std::wstring text) {
    if (m_pipeline.Silent()) {
        WriteConsoleLine(text);
        return;
    }
    if (m_pipeline.CancelRequested()) return;
    InvalidateRect(m_hWnd, nullptr, TRUE);
    SetWindowTextW(m_statusText, text.c_str());
}

void CMainWindow::ScaleOwnDrawing() {
    m_statusFont = CreateStatusFont(m_dpi);
    SendMessageW(m_statusText, WM_SETFONT, reinterpret_cast<WPARAM>(m_statusFont.get()), TRUE);
    m_cancelButton.SetDpi(m_dpi);
}

// The window moved to a monitor of another DPI (or the user changed the scaling): take the
// size the system suggests and lay the controls and fonts out for the new DPI.
std::optional<LRESULT> CMainWindow::OnDpiChanged(WPARAM wParam, LPARAM lParam) {
    const UINT dpi = LOWORD(wParam);
    const auto* suggested = reinterpret_cast<const RECT*>(lParam);
    if (dpi == 0 || suggested == nullptr) return 0;
    m_dpi = dpi;
    SetWindowPos(m_hWnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    // The old status font stays selected until the status line has the new one.
    const unique_gdi<HFONT> previousStatusFont = std::move(m_statusFont);
    m_layout.ApplyTo(dpi);
    ScaleOwnDrawing();
    InvalidateRect(m_hWnd, nullptr, TRUE);
    return 0;
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

// The whole client area white; the dialog's default erasing runs first.
std::optional<LRESULT> CMainWindow::OnPaint(WPARAM, LPARAM) {
    RECT client{};
    GetClientRect(m_hWnd, &client);
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(m_hWnd, &paint);
    {
        const unique_gdi<HBRUSH> brush(CreateSolidBrush(kWhite));
        const unique_gdi<HPEN> pen(CreatePen(PS_SOLID, 1, kWhite));
        SetBkMode(dc, TRANSPARENT);
        const ScopedSelection brushSelection(dc, brush.get());
        const ScopedSelection penSelection(dc, pen.get());
        Rectangle(dc, client.left, client.top, client.right, client.bottom);
    }
    EndPaint(m_hWnd, &paint);
    return 0;
}

// No background of its own: the status line is drawn over the white client area.
std::optional<LRESULT> CMainWindow::OnCtlColorStatic(WPARAM, LPARAM) {
    return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
}

std::optional<LRESULT> CMainWindow::OnInstallStart(WPARAM, LPARAM) {
    m_pipeline.StartInstallation();
    return 0;
}

// Position and maximum are full 32-bit values: a download's byte counts exceed 65535.
std::optional<LRESULT> CMainWindow::OnInstallProgress(WPARAM position, LPARAM maximum) {
    if (m_pipeline.Silent() || m_pipeline.CancelRequested()) return 0;
    SendMessageW(m_progressBar, PBM_SETRANGE32, 0, maximum);
    SendMessageW(m_progressBar, PBM_SETPOS, position, 0);
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

std::optional<LRESULT> CMainWindow::OnDownloadRetry(WPARAM, LPARAM) {
    m_pipeline.OnDownloadRetry();
    return 0;
}
