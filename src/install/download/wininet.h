#pragma once
// WinINet as the package transfer uses it: its functions, reached from System32 only (it is not
// one of the system's known DLLs), and its handles, each closed once.
#ifdef _WIN32
#include <windows.h>
#include <wininet.h>

#include <string>
#include <utility>

#include "common/system_library.h"

// The functions, looked up once.
struct WinInet {
    decltype(&InternetOpenW) open = SystemFunction<decltype(&InternetOpenW)>(L"wininet.dll", "InternetOpenW");
    decltype(&InternetOpenUrlW) openUrl =
        SystemFunction<decltype(&InternetOpenUrlW)>(L"wininet.dll", "InternetOpenUrlW");
    decltype(&HttpQueryInfoW) queryInfo = SystemFunction<decltype(&HttpQueryInfoW)>(L"wininet.dll", "HttpQueryInfoW");
    decltype(&InternetReadFile) read = SystemFunction<decltype(&InternetReadFile)>(L"wininet.dll", "InternetReadFile");
    decltype(&InternetQueryDataAvailable) available =
        SystemFunction<decltype(&InternetQueryDataAvailable)>(L"wininet.dll", "InternetQueryDataAvailable");
    decltype(&InternetSetOptionW) setOption =
        SystemFunction<decltype(&InternetSetOptionW)>(L"wininet.dll", "InternetSetOptionW");
    decltype(&InternetCloseHandle) close =
        SystemFunction<decltype(&InternetCloseHandle)>(L"wininet.dll", "InternetCloseHandle");

    bool Complete() const { return open && openUrl && queryInfo && read && available && setOption && close; }
    static const WinInet& Get() {
        static const WinInet functions;
        return functions;
    }
};

// A WinINet handle, closed once: when reset or at its end.
class InternetHandle {
public:
    InternetHandle() = default;
    explicit InternetHandle(HINTERNET handle) : m_handle(handle) {}
    ~InternetHandle() { reset(); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    InternetHandle& operator=(InternetHandle&& other) noexcept {
        if (this != &other) {
            reset();
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    void reset() {
        if (m_handle) WinInet::Get().close(std::exchange(m_handle, nullptr));
    }
    explicit operator bool() const { return m_handle != nullptr; }

private:
    HINTERNET m_handle = nullptr;
};

// The system's text for |error|; WinINet's own codes have their texts in its DLL.
std::string NetworkErrorText(DWORD error);
#endif
