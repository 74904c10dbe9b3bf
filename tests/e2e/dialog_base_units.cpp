// Prints the dialog base units (horizontal, vertical) that a dialog template with the given font
// gets: the font's average width of the 52 Latin letters, rounded, and its line height. The
// end-to-end tests turn the installer's template size into pixels with these.
//   dialog_base_units.exe FACE POINTS WEIGHT CHARSET
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        std::fputs("usage: dialog_base_units FACE POINTS WEIGHT CHARSET\n", stderr);
        return 2;
    }
    HDC screen = GetDC(nullptr);
    const int height = -MulDiv(_wtoi(argv[2]), GetDeviceCaps(screen, LOGPIXELSY), 72);
    HFONT font = CreateFontW(height, 0, 0, 0, _wtoi(argv[3]), FALSE, FALSE, FALSE, static_cast<BYTE>(_wtoi(argv[4])),
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, argv[1]);
    HGDIOBJ previous = SelectObject(screen, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(screen, &metrics);
    static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE extent{};
    GetTextExtentPoint32W(screen, kLetters, 52, &extent);
    SelectObject(screen, previous);
    DeleteObject(font);
    ReleaseDC(nullptr, screen);
    std::printf("%ld %ld\n", (extent.cx / 26 + 1) / 2, metrics.tmHeight);
    return 0;
}
