#pragma once
// DLLs of the system, loaded from System32 only. The program lives in a folder that anybody may
// write to (Downloads); a DLL of the same name placed there must never be loaded. Every DLL that is
// not one of Windows' KnownDLLs is reached through these functions, never by a static import.
#ifdef _WIN32
#include <windows.h>

// Restricts the process's DLL search to System32 (and DLLs loaded by full path). Call first thing;
// false where the system lacks the restriction (an unpatched Windows 7), after which only what
// LoadSystemLibrary loads by full path is safe.
bool RestrictDllSearchToSystem32();

// The named DLL (for example L"wininet.dll") from System32, loaded once and kept for the life of
// the process; null, with the last-error code set, when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name);

// A function of a System32 DLL, typed by its SDK declaration:
//   const auto open = SystemFunction<decltype(&InternetOpenW)>(L"wininet.dll", "InternetOpenW");
// Null, with the last-error code set, when the DLL or the function is missing.
template <typename FunctionPointer>
FunctionPointer SystemFunction(const wchar_t* library, const char* name) {
    const HMODULE module = LoadSystemLibrary(library);
    if (!module) return nullptr;
    // GetProcAddress returns a generic pointer; the SDK declaration gives the real type.
    return reinterpret_cast<FunctionPointer>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
#endif
