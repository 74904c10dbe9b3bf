#pragma once
// WinHTTP as the package transfer uses it: the system's HTTP stack that also serves services and
// SYSTEM, with its proxy settings. Its functions are reached from System32 only (it is not one of
// the system's known DLLs), and its handles are each closed once.
#ifdef _WIN32
#include <windows.h>
#include <winhttp.h>

#include <string>
#include <utility>

#include "common/system_library.h"

#define QV_WINHTTP_FUNCTION(member, name) \
    decltype(&name) member = SystemFunction<decltype(&name)>(L"winhttp.dll", #name)

// The DLLs WinHTTP's secure connections and proxy scripts pull in by name that are not known DLLs,
// loaded first from System32 by full path: a later load by name then finds them loaded and never
// looks beside the program (Wine's loader did for bcrypt.dll; so would a Windows 7 without the
// update that restricts the DLL search).
inline bool LoadWinHttpDependencies() {
    bool loaded = true;
    for (const wchar_t* name : {L"bcrypt.dll", L"crypt32.dll"}) loaded = LoadSystemLibrary(name) != nullptr && loaded;
    return loaded;
}

// The functions, looked up once.
struct WinHttp {
    const bool dependenciesLoaded = LoadWinHttpDependencies();
    QV_WINHTTP_FUNCTION(open, WinHttpOpen);
    QV_WINHTTP_FUNCTION(connect, WinHttpConnect);
    QV_WINHTTP_FUNCTION(openRequest, WinHttpOpenRequest);
    QV_WINHTTP_FUNCTION(sendRequest, WinHttpSendRequest);
    QV_WINHTTP_FUNCTION(receiveResponse, WinHttpReceiveResponse);
    QV_WINHTTP_FUNCTION(queryHeaders, WinHttpQueryHeaders);
    QV_WINHTTP_FUNCTION(queryDataAvailable, WinHttpQueryDataAvailable);
    QV_WINHTTP_FUNCTION(readData, WinHttpReadData);
    QV_WINHTTP_FUNCTION(setOption, WinHttpSetOption);
    QV_WINHTTP_FUNCTION(setTimeouts, WinHttpSetTimeouts);
    QV_WINHTTP_FUNCTION(closeHandle, WinHttpCloseHandle);
    QV_WINHTTP_FUNCTION(crackUrl, WinHttpCrackUrl);
    QV_WINHTTP_FUNCTION(queryAuthSchemes, WinHttpQueryAuthSchemes);
    QV_WINHTTP_FUNCTION(setCredentials, WinHttpSetCredentials);
    QV_WINHTTP_FUNCTION(setStatusCallback, WinHttpSetStatusCallback);
    QV_WINHTTP_FUNCTION(userProxyConfig, WinHttpGetIEProxyConfigForCurrentUser);
    QV_WINHTTP_FUNCTION(proxyForUrl, WinHttpGetProxyForUrl);
    QV_WINHTTP_FUNCTION(defaultProxyConfig, WinHttpGetDefaultProxyConfiguration);

    bool Complete() const {
        return open && connect && openRequest && sendRequest && receiveResponse && queryHeaders && queryDataAvailable &&
               readData && setOption && setTimeouts && closeHandle && crackUrl && queryAuthSchemes && setCredentials &&
               setStatusCallback && userProxyConfig && proxyForUrl && defaultProxyConfig;
    }
    static const WinHttp& Get() {
        static const WinHttp functions;
        return functions;
    }
};

#undef QV_WINHTTP_FUNCTION

// A WinHTTP handle, closed once: when reset or at its end.
class HttpHandle {
public:
    HttpHandle() = default;
    explicit HttpHandle(HINTERNET handle) : m_handle(handle) {}
    ~HttpHandle() { reset(); }
    HttpHandle(const HttpHandle&) = delete;
    HttpHandle& operator=(const HttpHandle&) = delete;
    HttpHandle& operator=(HttpHandle&& other) noexcept {
        if (this != &other) {
            reset();
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    void reset() {
        if (m_handle) WinHttp::Get().closeHandle(std::exchange(m_handle, nullptr));
    }
    HINTERNET get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

private:
    HINTERNET m_handle = nullptr;
};

// A string WinHTTP allocated with GlobalAlloc (proxy settings), freed once.
class GlobalText {
public:
    GlobalText() = default;
    explicit GlobalText(LPWSTR text) : m_text(text) {}
    ~GlobalText() {
        if (m_text) GlobalFree(m_text);
    }
    GlobalText(const GlobalText&) = delete;
    GlobalText& operator=(const GlobalText&) = delete;
    std::wstring Text() const { return m_text ? std::wstring(m_text) : std::wstring(); }

private:
    LPWSTR m_text = nullptr;
};

// The system's text for |error|; WinHTTP's own codes have their texts in its DLL.
std::string NetworkErrorText(DWORD error);
#endif
