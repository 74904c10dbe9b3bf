// The DPI functions of newer Windows are declared only for newer targets; the program runs on
// Windows 7 too, so they are reached by name and their declarations serve only as their types.
#undef WINVER
#define WINVER 0x0A00
#include "ui/dpi_scale.h"

namespace {
// user32 is loaded in every GUI process and is one of Windows' KnownDLLs.
template <typename FunctionPointer>
FunctionPointer User32Function(const char* name) {
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) return nullptr;
    return reinterpret_cast<FunctionPointer>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

UINT SystemDpi(HWND window) {
    const HDC dc = GetDC(window);
    if (dc == nullptr) return kDesignDpi;
    const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(window, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : kDesignDpi;
}
}  // namespace

int ScaleToDpi(int value, UINT dpi) { return MulDiv(value, static_cast<int>(dpi), static_cast<int>(kDesignDpi)); }

UINT WindowDpi(HWND window) {
    static const auto dpiForWindow = User32Function<decltype(&GetDpiForWindow)>("GetDpiForWindow");
    if (dpiForWindow != nullptr) {
        const UINT dpi = dpiForWindow(window);
        if (dpi != 0) return dpi;
    }
    return SystemDpi(window);
}

void HandleDialogDpiChangesMyself(HWND dialog) {
    static const auto setBehavior = User32Function<decltype(&SetDialogDpiChangeBehavior)>("SetDialogDpiChangeBehavior");
    if (setBehavior != nullptr) setBehavior(dialog, DDC_DISABLE_ALL, DDC_DISABLE_ALL);
}
