#include "common/system_library.h"

#include <string>

namespace {
// Set by RestrictDllSearchToSystem32 when the loader understands LOAD_LIBRARY_SEARCH_SYSTEM32.
bool g_searchFlagsSupported = false;

std::wstring SystemFolderPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::wstring(folder, length) + L"\\" + name;
}
}  // namespace

bool RestrictDllSearchToSystem32() {
    // Reached by name: Windows 7 without its loader update has no such function.
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFunction>(
                                         reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
                                   : nullptr;
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        g_searchFlagsSupported = true;
        return true;
    }
    // The fallback: at least the current folder leaves the search order.
    SetDllDirectoryW(L"");
    return false;
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    if (g_searchFlagsSupported) return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // By full path; the DLL's own dependencies are then looked for beside it first.
    const std::wstring path = SystemFolderPath(name);
    if (path.empty()) return nullptr;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
