#pragma once
// The installer's one window: a small modeless dialog (template IDD_MAIN_WINDOW) that also holds
// the run (its pipeline). This file is its frame: construction with the run's settings, creation,
// the message table, the end of the message loop and destruction.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "install/pipeline.h"
#include "install/stage_host.h"
#include "ui/custom_button.h"
#include "ui/dialog_dispatch.h"
#include "ui/dialog_layout.h"
#include "ui/dpi_scale.h"
#include "ui/gdi_object.h"

class CMainWindow : public CDialogWindow, public StageHost {
public:
    // The run behind the window gets |settings| whole; the window keeps none of them.
    explicit CMainWindow(RunSettings settings = {});
    // Destroys the dialog and logs the last line.
    ~CMainWindow() override;

    // Creates the dialog hidden, owned by the thread's active window. Null when it cannot be made.
    HWND CreateHidden(HINSTANCE module);

    // The code the message loop ends with: the outcome of the run.
    int ExitCode() const { return m_pipeline.ExitCode(); }

    // The run behind the window (its cancel request, its seams).
    InstallationPipeline& Pipeline() { return m_pipeline; }

    // StageHost
    HWND WindowHandle() const override { return m_hWnd; }
    std::wstring Text(TextIndex index) const override;
    void SetStatusText(std::wstring text) override;
    void ShowCancelButton() override;
    void ShowFailure(const std::string& message) override;

protected:
    std::optional<LRESULT> Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // One row of the message table. A handler that returns nothing leaves the message to the
    // dialog's default handling.
    struct MessageHandler {
        UINT message;
        std::optional<LRESULT> (CMainWindow::*handle)(WPARAM wParam, LPARAM lParam);
    };
    static const MessageHandler kMessageTable[];

    std::optional<LRESULT> OnCommand(WPARAM wParam, LPARAM lParam);
    std::optional<LRESULT> OnCancelCommand(WPARAM wParam, LPARAM lParam);
    std::optional<LRESULT> OnInitDialog(WPARAM wParam, LPARAM lParam);
    std::optional<LRESULT> OnDestroy(WPARAM wParam, LPARAM lParam);
    std::optional<LRESULT> OnClose(WPARAM wParam, LPARAM lParam);
    std::optional<LRESULT> OnPaint(WPARAM wParam, LPARAM lParam);
    std::optional<LRESULT> OnCtlColorStatic(WPARAM wParam, LPARAM lParam);
    std::optional<LRESULT> OnInstallStart(WPARAM wParam, LPARAM lParam);
    std::optional<LRESULT> OnInstallProgress(WPARAM wParam, LPARAM lParam);
    std::optional<LRESULT> OnDownloadDone(WPARAM wParam, LPARAM lParam);
    std::optional<LRESULT> OnExtractDone(WPARAM wParam, LPARAM lParam);
    std::optional<LRESULT> OnInstallFailed(WPARAM wParam, LPARAM lParam);
    std::optional<LRESULT> OnDpiChanged(WPARAM wParam, LPARAM lParam);

    // Sizes designed at 96 DPI for m_dpi: the status font and the button's drawing.
    void ScaleOwnDrawing();
    std::optional<LRESULT> OnDownloadRetry(WPARAM wParam, LPARAM lParam);

    HWND m_progressBar = nullptr;       // control 1001
    CCustomButton m_cancelButton;       // serves control 1004
    HWND m_statusText = nullptr;        // control 1002
    unique_gdi<HFONT> m_statusFont;     // kept for the status line's life (and remade at a new DPI)
    UINT m_dpi = kDesignDpi;            // the DPI the window is drawn at now
    DialogLayout m_layout;              // the controls as laid out at creation
    std::vector<std::wstring> m_texts;  // translated lines, indexed by TextIndex
    InstallationPipeline m_pipeline;    // the stages, their worker and the run's outcome
};
