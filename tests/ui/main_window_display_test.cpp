// The installer window in-process, created from the program's own resources: what its
// initialisation sets up, the status line, the progress bar and the cancel button's click.
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <optional>
#include <string>

#include "install/window_messages.h"
#include "ui/dpi_scale.h"
#include "ui/resources/resource_ids.h"
#include "ui/translations.h"

namespace {
constexpr COLORREF kBarColor = RGB(236, 14, 36);
constexpr COLORREF kWhite = RGB(255, 255, 255);

LONG FontHeight(HWND window) {
    const auto font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
    LOGFONTW description{};
    if (GetObjectW(font, sizeof(description), &description) != static_cast<int>(sizeof(description))) return 0;
    return description.lfHeight;
}

// A control's rectangle in its dialog's client coordinates.
RECT PlaceIn(HWND dialog, HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::string Describe(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

RECT Doubled(const RECT& r) { return {2 * r.left, 2 * r.top, 2 * r.right, 2 * r.bottom}; }

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

    void SetUp() override { Open(false); }

    HWND Control(int id) const { return GetDlgItem(m_dialog, id); }
    // A window of its own for a run that is (or is not) silent.
    void Open(bool silent) {
        RunSettings settings;
        settings.choices.silent = silent;
        m_window.reset();
        m_window.emplace(settings);
        ASSERT_NE(m_window->CreateHidden(GetModuleHandleW(nullptr)), nullptr);
        m_dialog = m_window->m_hWnd;
    }
    LRESULT Progress(WPARAM position, LPARAM maximum) {
        return SendMessageW(m_dialog, WM_INSTALL_PROGRESS, position, maximum);
    }
    LRESULT BarPosition() const { return SendMessageW(Control(IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0); }
    LRESULT BarMaximum() const { return SendMessageW(Control(IDC_PROGRESS_BAR), PBM_GETRANGE, FALSE, 0); }

    std::optional<CMainWindow> m_window;
    HWND m_dialog = nullptr;
};
}  // namespace

TEST_F(MainWindowDisplay, TitleIsTheProductAndTheUsersInstallerLine) {
    std::vector<std::wstring> lines;
    LoadTranslation(TranslationIdForUser(), lines);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(WindowText(m_dialog), L"QuorVel " + lines[5]);
    EXPECT_EQ(m_window->Text(TEXT_CANCEL), lines[1]);
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
    EXPECT_EQ(description.lfHeight, ScaleToDpi(22, WindowDpi(m_dialog))) << "22 pixels at 96 DPI";
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
    EXPECT_EQ(Progress(300000, 1000000), 0);
    EXPECT_EQ(BarPosition(), 300000);
    EXPECT_EQ(BarMaximum(), 1000000);
    Progress(5000000, 1000000);
    EXPECT_EQ(BarPosition(), 1000000) << "a position past the maximum is clamped";

    m_window->Pipeline().Run().cancel.Request();
    Progress(10, 20);
    EXPECT_EQ(BarPosition(), 1000000) << "progress after the cancel must be ignored";
    EXPECT_EQ(BarMaximum(), 1000000);
}

TEST_F(MainWindowDisplay, SilentRunIgnoresProgress) {
    Open(true);
    Progress(300000, 1000000);
    EXPECT_EQ(BarPosition(), 0);
    EXPECT_EQ(BarMaximum(), 100);
}

TEST_F(MainWindowDisplay, StatusLineShowsTextUntilCancelled) {
    m_window->SetStatusText(L"Fetching files...");
    EXPECT_EQ(WindowText(Control(IDC_STATUS_TEXT)), L"Fetching files...");
    m_window->Pipeline().Run().cancel.Request();
    m_window->SetStatusText(L"Extracting files...");
    EXPECT_EQ(WindowText(Control(IDC_STATUS_TEXT)), L"Fetching files...");
}

TEST_F(MainWindowDisplay, SilentStatusLinesGoToStandardOutputOnePerLine) {
    Open(true);
    testing::internal::CaptureStdout();
    m_window->SetStatusText(L"Fetching files...");
    m_window->SetStatusText(L"T\u00e9l\u00e9chargement...");
    std::string printed = testing::internal::GetCapturedStdout();
    std::string withoutCr;
    for (char c : printed) {
        if (c != '\r') withoutCr += c;
    }
    EXPECT_EQ(withoutCr,
              "Fetching files...\nT\xC3\xA9l\xC3\xA9"
              "chargement...\n");
    EXPECT_EQ(WindowText(Control(IDC_STATUS_TEXT)), L"") << "the hidden window shows nothing";
}

TEST_F(MainWindowDisplay, AnyCancelButtonCommandPostsClose) {
    const HWND button = Control(IDC_CANCEL_BUTTON);
    for (WORD notification : {WORD{BN_CLICKED}, WORD{BN_SETFOCUS}, WORD{BN_KILLFOCUS}}) {
        MSG pending{};
        while (PeekMessageW(&pending, m_dialog, WM_CLOSE, WM_CLOSE, PM_REMOVE)) {
        }
        SendMessageW(m_dialog, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_BUTTON, notification),
                     reinterpret_cast<LPARAM>(button));
        EXPECT_TRUE(PeekMessageW(&pending, m_dialog, WM_CLOSE, WM_CLOSE, PM_REMOVE)) << "notification " << notification;
        EXPECT_EQ(pending.wParam, 0u);
        EXPECT_EQ(pending.lParam, 0);
    }
}

TEST_F(MainWindowDisplay, DpiChangeTakesTheSuggestedSizeAndScalesControlsAndFonts) {
    const UINT dpi = WindowDpi(m_dialog);
    const int ids[] = {IDC_CANCEL_BUTTON, IDC_STATUS_TEXT, IDC_PROGRESS_BAR};
    RECT window{};
    GetWindowRect(m_dialog, &window);
    RECT original[3]{};
    for (int i = 0; i < 3; ++i) original[i] = PlaceIn(m_dialog, Control(ids[i]));
    const LONG buttonFont = FontHeight(Control(IDC_CANCEL_BUTTON));
    const LONG statusFont = FontHeight(Control(IDC_STATUS_TEXT));

    // To a monitor at twice the DPI, and back.
    RECT suggested{window.left, window.top, window.left + 2 * (window.right - window.left),
                   window.top + 2 * (window.bottom - window.top)};
    EXPECT_EQ(SendMessageW(m_dialog, WM_DPICHANGED, MAKEWPARAM(2 * dpi, 2 * dpi), reinterpret_cast<LPARAM>(&suggested)),
              0);
    RECT now{};
    GetWindowRect(m_dialog, &now);
    EXPECT_EQ(Describe(now), Describe(suggested)) << "the suggested rectangle";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Describe(PlaceIn(m_dialog, Control(ids[i]))), Describe(Doubled(original[i]))) << "control " << ids[i];
    EXPECT_EQ(FontHeight(Control(IDC_STATUS_TEXT)), ScaleToDpi(22, 2 * dpi));
    EXPECT_EQ(FontHeight(Control(IDC_CANCEL_BUTTON)), 2 * buttonFont) << "the button's dialog font";

    SendMessageW(m_dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&window));
    GetWindowRect(m_dialog, &now);
    EXPECT_EQ(Describe(now), Describe(window));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Describe(PlaceIn(m_dialog, Control(ids[i]))), Describe(original[i])) << "control " << ids[i];
    EXPECT_EQ(FontHeight(Control(IDC_STATUS_TEXT)), statusFont);
    EXPECT_EQ(SendMessageW(Control(IDC_CANCEL_BUTTON), WM_GETFONT, 0, 0), SendMessageW(m_dialog, WM_GETFONT, 0, 0))
        << "back at the creation's DPI the button has the dialog's own font again";
}

TEST_F(MainWindowDisplay, KeysOnTheCancelButtonDoNotCancelAClickDoes) {
    const HWND button = Control(IDC_CANCEL_BUTTON);
    MSG pending{};
    // Earlier tests of this thread may have left a close in the queue for a window handle that
    // the system has since given to this dialog.
    while (PeekMessageW(&pending, m_dialog, WM_CLOSE, WM_CLOSE, PM_REMOVE)) {
    }
    ShowWindow(m_dialog, SW_SHOWNOACTIVATE);
    ShowWindow(button, SW_SHOW);
    ASSERT_FALSE(PeekMessageW(&pending, m_dialog, WM_CLOSE, WM_CLOSE, PM_REMOVE)) << "a close after showing";
    for (const WPARAM key : {WPARAM{VK_SPACE}, WPARAM{VK_RETURN}}) {
        SendMessageW(button, WM_KEYDOWN, key, 1);
        SendMessageW(button, WM_CHAR, key, 1);
        SendMessageW(button, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
        EXPECT_FALSE(PeekMessageW(&pending, m_dialog, WM_CLOSE, WM_CLOSE, PM_REMOVE)) << "key " << key;
    }
    SendMessageW(button, BM_CLICK, 0, 0);
    EXPECT_TRUE(PeekMessageW(&pending, m_dialog, WM_CLOSE, WM_CLOSE, PM_REMOVE)) << "a click cancels";
}
