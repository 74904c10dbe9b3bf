#pragma once
// Reading an address and a server's answer through WinHTTP, for the transfer.
#ifdef _WIN32
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "install/download/winhttp.h"

struct UrlParts {
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring pathAndQuery;
    bool secure = false;  // https
};

// The parts of an http or https |url|; none for anything else.
std::optional<UrlParts> CrackUrl(const WinHttp& net, const std::wstring& url);

// The answer's status code; 0 when there is none.
DWORD QueryStatus(const WinHttp& net, HINTERNET request);
// A header of the answer (WINHTTP_QUERY_*); empty when it has none.
std::wstring QueryText(const WinHttp& net, HINTERNET request, DWORD what);
// Content-Length; 0 when there is none.
std::uint64_t QueryContentLength(const WinHttp& net, HINTERNET request);

bool IsRedirect(DWORD status);

// Why the server's certificate was refused, from a send's |error| and the problems the status
// callback saw (WINHTTP_CALLBACK_STATUS_FLAG_*); empty when |error| is no certificate failure.
std::string CertificateProblemText(DWORD error, unsigned long problems);
#endif
