#include "install/download/http_answer.h"

#include <winhttp.h>

#include <cwchar>
#include <vector>

std::optional<UrlParts> CrackUrl(const WinHttp& net, const std::wstring& url) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
        static_cast<DWORD>(-1);
    if (!net.crackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return std::nullopt;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return std::nullopt;
    UrlParts cracked;
    cracked.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    cracked.port = parts.nPort;
    cracked.pathAndQuery.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    cracked.pathAndQuery.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    // A fragment is the client's own: it is never sent.
    cracked.pathAndQuery = cracked.pathAndQuery.substr(0, cracked.pathAndQuery.find(L'#'));
    if (cracked.pathAndQuery.empty()) cracked.pathAndQuery = L"/";
    cracked.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    if (cracked.host.empty()) return std::nullopt;
    return cracked;
}

DWORD QueryStatus(const WinHttp& net, HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!net.queryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                          &status, &size, WINHTTP_NO_HEADER_INDEX))
        return 0;
    return status;
}

std::wstring QueryText(const WinHttp& net, HINTERNET request, DWORD what) {
    std::vector<wchar_t> buffer(1024, L'\0');
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (!net.queryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
        buffer.assign(size / sizeof(wchar_t) + 1, L'\0');
        if (!net.queryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &size,
                              WINHTTP_NO_HEADER_INDEX))
            return {};
    }
    return std::wstring(buffer.data());
}

std::uint64_t QueryContentLength(const WinHttp& net, HINTERNET request) {
    const std::wstring text = QueryText(net, request, WINHTTP_QUERY_CONTENT_LENGTH);
    return text.empty() ? 0 : std::wcstoull(text.c_str(), nullptr, 10);
}

bool IsRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string CertificateProblemText(DWORD error, unsigned long problems) {
    const struct {
        DWORD error;
        unsigned long flag;
        const char* text;
    } kProblems[] = {
        {ERROR_WINHTTP_SECURE_CERT_CN_INVALID, WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID,
         "it is made out to another name"},
        {ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID,
         "it has expired or is not valid yet"},
        {ERROR_WINHTTP_SECURE_INVALID_CA, WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA,
         "it is not from a trusted certificate authority"},
        {ERROR_WINHTTP_SECURE_CERT_REVOKED, WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED, "it is revoked"},
        {ERROR_WINHTTP_SECURE_CERT_REV_FAILED, WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED,
         "whether it is revoked could not be checked"},
        {ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE, WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE,
         "it is not for server authentication"},
        {ERROR_WINHTTP_SECURE_INVALID_CERT, WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT, "it is invalid"},
    };
    std::string text;
    for (const auto& problem : kProblems)
        if (error == problem.error || (problems & problem.flag))
            text += (text.empty() ? "" : "; ") + std::string(problem.text);
    if (text.empty() && (error == ERROR_WINHTTP_SECURE_FAILURE || error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR))
        text = "the secure connection could not be made";
    return text;
}
