// The installer window in-process, created from the program's own resources: what its
// initialisation sets up, the status line, the progress bar and the cancel button's click.
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <string>

#include "install/window_messages.h"
#include "ui/globals.h"
#include "ui/resources/resource_ids.h"
#include "ui/translations.h"

namespace {
constexpr COLORREF kBarColor = RGB(236, 14, 36);
constexpr COLORREF kWhite = RGB(255, 255, 255);

std::wstring WindowText(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

class MainWindowDisplay : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
    }

    void SetUp() override {
        ASSERT_NE(m_window.CreateHidden(GetModuleHandleW(nullptr)), nullptr);
        m_dialog = m_window.m_hWnd;
    }

    HWND Control(int id) const { return GetDlgItem(m_dialog, id); }
    void Choose(bool silent) {
        RunChoices choices;
        choices.silent = silent;
        m_window.SetChoices(choices);
    }
    LRESULT Progress(WPARAM position, LPARAM maximum) {
        return SendMessageW(m_dialog, WM_INSTALL_PROGRESS, position, maximum);
    }
    LRESULT BarPosition() const { return SendMessageW(Control(IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0); }
    LRESULT BarMaximum() const {
        return SendMessageW(Control(IDC_PROGRESS_BAR), PBM_GETRANGE, FALSE, 0);
    }

    CMainWindow m_window;
    HWND m_dialog = nullptr;
};
}  // namespace

TEST_F(MainWindowDisplay, TitleIsTheProductAndTheUsersInstallerLine) {
    std::vector<std::wstring> lines;
    LoadTranslation(TranslationIdForUser(), lines);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(WindowText(m_dialog), L"QuorVel " + lines[5]);
    EXPECT_EQ(m_window.Text(TEXT_CANCEL), lines[1]);
}

TEST_F(MainWindowDisplay, InitialisationSetsIconColoursFontAndButton) {
    EXPECT_NE(SendMessageW(m_dialog, WM_GETICON, ICON_BIG, 0), 0) << "big icon";
    EXPECT_EQ(SendMessageW(m_dialog, WM_GETICON, ICON_SMALL, 0), 0) << "no small icon is set";

    const HWND bar = Control(IDC_PROGRESS_BAR);
    EXPECT_EQ(static_cast<COLORREF>(SendMessageW(bar, PBM_SETBARCOLOR, 0, kBarColor)), kBarColor);
    EXPECT_EQ(static_cast<COLORREF>(SendMessageW(bar, PBM_SETBKCOLOR, 0, kWhite)), kWhite);

    const HWND button = Control(IDC_CANCEL_BUTTON);
    EXPECT_EQ(GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    EXPECT_FALSE(IsWindowVisible(button));

    const auto font = reinterpret_cast<HFONT>(SendMessageW(Control(IDC_STATUS_TEXT), WM_GETFONT, 0, 0));
    LOGFONTW description{};
    ASSERT_EQ(GetObjectW(font, sizeof(description), &description), static_cast<int>(sizeof(description)));
    EXPECT_EQ(description.lfHeight, 22);
    EXPECT_EQ(description.lfWeight, 300);
    EXPECT_STREQ(description.lfFaceName, L"Arial");
    EXPECT_EQ(description.lfCharSet, DEFAULT_CHARSET);
    EXPECT_EQ(description.lfOutPrecision, OUT_OUTLINE_PRECIS);
    EXPECT_EQ(description.lfQuality, CLEARTYPE_QUALITY);
    EXPECT_EQ(description.lfPitchAndFamily & 3, VARIABLE_PITCH);
}

TEST_F(MainWindowDisplay, StatusStaticGetsTheNullBrush) {
    const HDC dc = GetDC(m_dialog);
    const LRESULT brush = SendMessageW(m_dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(Control(IDC_STATUS_TEXT)));
    ReleaseDC(m_dialog, dc);
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(brush), GetStockObject(NULL_BRUSH));
}

TEST_F(MainWindowDisplay, ProgressUsesFull32BitValuesUntilCancelled) {
    Choose(false);
    EXPECT_EQ(Progress(300000, 1000000), 0);
    EXPECT_EQ(BarPosition(), 300000);
    EXPECT_EQ(BarMaximum(), 1000000);
    Progress(5000000, 1000000);
    EXPECT_EQ(BarPosition(), 1000000) << "a position past the maximum is clamped";

    m_window.Pipeline().Run().cancel.Request();
    Progress(10, 20);
    EXPECT_EQ(BarPosition(), 1000000) << "progress after the cancel must be ignored";
    EXPECT_EQ(BarMaximum(), 1000000);
}

TEST_F(MainWindowDisplay, SilentRunIgnoresProgress) {
    Choose(true);
    Progress(300000, 1000000);
    EXPECT_EQ(BarPosition(), 0);
    EXPECT_EQ(BarMaximum(), 100);
}

TEST_F(MainWindowDisplay, StatusLineShowsTextUntilCancelled) {
    Choose(false);
    m_window.SetStatusText(L"Fetching files...");
    EXPECT_EQ(WindowText(Control(IDC_STATUS_TEXT)), L"Fetching files...");
    m_window.Pipeline().Run().cancel.Request();
    m_window.SetStatusText(L"Extracting files...");
    EXPECT_EQ(WindowText(Control(IDC_STATUS_TEXT)), L"Fetching files...");
}

TEST_F(MainWindowDisplay, SilentStatusLinesGoToStandardOutputOnePerLine) {
    Choose(true);
    testing::internal::CaptureStdout();
    m_window.SetStatusText(L"Fetching files...");
    m_window.SetStatusText(L"T\u00e9l\u00e9chargement...");
    std::string printed = testing::internal::GetCapturedStdout();
    std::string withoutCr;
    for (char c : printed) {
        if (c != '\r') withoutCr += c;
    }
    EXPECT_EQ(withoutCr, "Fetching files...\nT\xC3\xA9l\xC3\xA9" "chargement...\n");
    EXPECT_EQ(WindowText(Control(IDC_STATUS_TEXT)), L"") << "the hidden window shows nothing";
}

TEST_F(MainWindowDisplay, AnyCancelButtonCommandPostsClose) {
    const HWND button = Control(IDC_CANCEL_BUTTON);
    for (WORD notification : {WORD{BN_CLICKED}, WORD{BN_SETFOCUS}, WORD{BN_KILLFOCUS}}) {
        MSG pending{};
        while (PeekMessageW(&pending, m_dialog, WM_CLOSE, WM_CLOSE, PM_REMOVE)) {}
        SendMessageW(m_dialog, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_BUTTON, notification),
                     reinterpret_cast<LPARAM>(button));
        EXPECT_TRUE(PeekMessageW(&pending, m_dialog, WM_CLOSE, WM_CLOSE, PM_REMOVE))
            << "notification " << notification;
        EXPECT_EQ(pending.wParam, 0u);
        EXPECT_EQ(pending.lParam, 0);
    }
}
