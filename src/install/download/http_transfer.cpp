// One attempt's HTTP conversation over WinHTTP: the proxy, the hops of a redirect chain (each
// checked), a proxy's request to sign in, and the package's bytes into the attempt's file, from
// where the attempt before stopped when the server continues the same file.
#include <windows.h>
#include <urlmon.h>
#include <winhttp.h>

#include <algorithm>
#include <vector>

#include "common/log.h"
#include "common/system_error_text.h"
#include "common/text.h"
#include "install/download/http_answer.h"
#include "install/download/package_transfer.h"
#include "install/download/proxy_settings.h"
#include "install/download/retry_policy.h"
#include "install/download/transfer_attempt.h"
#include "install/window_messages.h"

namespace {

constexpr char kContext[] = "Downloading install files";
constexpr wchar_t kAgent[] = L"QuorVel Setup";
// Caches along the way must not answer for the server.
constexpr char kRequestHeaders[] = "Cache-Control: no-cache\r\nPragma: no-cache\r\n";
constexpr int kMostRedirects = 10;
constexpr DWORD kRangeNotSatisfiable = 416;
constexpr DWORD kReadSize = 1024 * 1024;
// A piece smaller than this means the package comes slowly: it is written at once.
constexpr DWORD kFastPiece = 4096;
// Received bytes are written when less room than this is left for them.
constexpr DWORD kSmallestRoom = 64 * 1024;

void CALLBACK NoteCertificateProblems(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD length) {
    if (status != WINHTTP_CALLBACK_STATUS_SECURE_FAILURE || !context || !information || length < sizeof(DWORD)) return;
    reinterpret_cast<Attempt*>(context)->certificateProblems.fetch_or(*static_cast<DWORD*>(information));
}

class HttpTransfer {
public:
    explicit HttpTransfer(Attempt& attempt) : m_attempt(attempt), m_net(WinHttp::Get()) {}

    TransferResult Run() {
        TransferResult result;
        result.outcome = Fetch(result.failure);
        result.error = m_error;
        result.kept = m_kept;
        if (m_attempt.stop.load())
            result.outcome = AttemptOutcome{AttemptOutcome::Kind::Cancelled, "stopped", {}, false};
        return result;
    }

private:
    AttemptOutcome Fetch(std::string& failure) {
        if (!m_net.Complete())
            return NetworkFailure(GetLastError(), "the system's HTTP functions are missing", failure);
        if (!OpenSession(ProxyChoice{})) return NetworkFailure(GetLastError(), "no HTTP session", failure);
        // The proxy is chosen for the package's address; a redirect elsewhere keeps it, apart
        // from the hosts its bypass list names.
        const ProxyChoice proxy = ChooseProxy(ReadProxySources(m_session, m_attempt.proxy), WideToUtf8(m_attempt.url));
        Log(LogLevel::Note, "Connecting through ", DescribeProxyChoice(proxy));
        m_proxyAddress = proxy.proxy;
        if (!proxy.proxy.empty() && !OpenSession(proxy))
            return NetworkFailure(GetLastError(), "no HTTP session through the proxy", failure);
        std::wstring url = m_attempt.url;
        for (int redirects = 0;; ++redirects) {
            HINTERNET request = nullptr;
            if (const std::optional<AttemptOutcome> unopened = OpenRequest(url, request, failure)) return *unopened;
            if (!Exchange(request)) return SendFailure(GetLastError(), failure);
            m_attempt.stall.Arrived();
            DWORD status = QueryStatus(m_net, request);
            if (status == HTTP_STATUS_PROXY_AUTH_REQ && SignInToProxy(request)) {
                if (!Exchange(request)) return SendFailure(GetLastError(), failure);
                status = QueryStatus(m_net, request);
            }
            if (status == 0) return NoAnswer(failure);
            if (status == HTTP_STATUS_PROXY_AUTH_REQ) return ProxySignInFailure(failure);
            if (IsRedirect(status)) {
                const std::wstring next = ResolveLocation(url, QueryText(m_net, request, WINHTTP_QUERY_LOCATION));
                if (next.empty() || redirects >= kMostRedirects) return RedirectFailure(status, failure);
                // Each hop is checked against the one before: once on https, never back to http.
                if (IsSchemeDowngrade(WideToUtf8(url), WideToUtf8(next))) return Downgrade(next, failure);
                url = next;
                continue;
            }
            if (status == kRangeNotSatisfiable && m_attempt.resume.Usable()) return RangeRefused(failure);
            if (status < 200 || status >= 300)
                return HttpFailure(status, QueryText(m_net, request, WINHTTP_QUERY_RETRY_AFTER), failure);
            return Receive(request, status, failure);
        }
    }

    // A session through |proxy| (none: direct); it takes the place of any session before.
    bool OpenSession(const ProxyChoice& proxy) {
        const std::wstring name = Utf8ToWide(proxy.proxy), bypass = Utf8ToWide(proxy.bypass);
        m_session = m_attempt.Adopt(
            Attempt::Slot::Session,
            name.empty()
                ? m_net.open(kAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)
                : m_net.open(kAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, name.c_str(),
                             bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : bypass.c_str(), 0));
        if (!m_session) return false;
        // A backstop: the worker gives up on a silent transfer itself, but the thread should end too.
        const int limit = static_cast<int>(m_attempt.stall.Limit().count());
        m_net.setTimeouts(m_session, limit, limit, limit, limit);
        DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
        if (!m_net.setOption(m_session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
            protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;  // a system without TLS 1.3
            m_net.setOption(m_session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
        }
        return true;
    }

    // Connects for |url| and opens its request, with our options and the proxy chosen for it.
    // Nothing when the request is open; otherwise why not.
    std::optional<AttemptOutcome> OpenRequest(const std::wstring& url, HINTERNET& request, std::string& failure) {
        const std::optional<UrlParts> parts = CrackUrl(m_net, url);
        if (!parts) return AddressFailure(url, failure);
        const HINTERNET connection =
            m_attempt.Adopt(Attempt::Slot::Connection, m_net.connect(m_session, parts->host.c_str(), parts->port, 0));
        if (connection)
            request =
                m_attempt.Adopt(Attempt::Slot::Request,
                                m_net.openRequest(connection, L"GET", parts->pathAndQuery.c_str(), nullptr,
                                                  WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                  (parts->secure ? WINHTTP_FLAG_SECURE : 0) | WINHTTP_FLAG_REFRESH));
        if (!request) return NetworkFailure(GetLastError(), "no connection to the server", failure);
        DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER, noCookies = WINHTTP_DISABLE_COOKIES;
        m_net.setOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
        m_net.setOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &noCookies, sizeof noCookies);
        DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&m_attempt);
        m_net.setOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
        m_net.setStatusCallback(request, NoteCertificateProblems, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
        m_headers = Utf8ToWide(std::string(kRequestHeaders) + ResumeHeaders(m_attempt.resume));
        return std::nullopt;
    }

    bool Exchange(HINTERNET request) {
        return m_net.sendRequest(request, m_headers.c_str(), static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0,
                                 0) &&
               m_net.receiveResponse(request, nullptr);
    }

    // A proxy that asks to sign in gets, once, this account's own credentials (Negotiate or NTLM).
    bool SignInToProxy(HINTERNET request) {
        if (m_triedSignIn) return false;
        m_triedSignIn = true;
        DWORD supported = 0, first = 0, target = 0;
        if (!m_net.queryAuthSchemes(request, &supported, &first, &target) || target != WINHTTP_AUTH_TARGET_PROXY)
            return false;
        const DWORD scheme = (supported & WINHTTP_AUTH_SCHEME_NEGOTIATE) ? WINHTTP_AUTH_SCHEME_NEGOTIATE
                             : (supported & WINHTTP_AUTH_SCHEME_NTLM)    ? WINHTTP_AUTH_SCHEME_NTLM
                                                                         : 0;
        if (scheme == 0) return false;
        DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
        m_net.setOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof policy);
        return m_net.setCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr, nullptr) != FALSE;
    }

    AttemptOutcome Receive(HINTERNET request, DWORD status, std::string& failure) {
        const std::string validator = ValidatorOf(WideToUtf8(QueryText(m_net, request, WINHTTP_QUERY_ETAG)),
                                                  WideToUtf8(QueryText(m_net, request, WINHTTP_QUERY_LAST_MODIFIED)));
        const std::string range = WideToUtf8(QueryText(m_net, request, WINHTTP_QUERY_CONTENT_RANGE));
        const ResumePoint& resume = m_attempt.resume;
        const ResumeAnswer answer =
            resume.Usable() ? JudgeResumeAnswer(resume, status, range, validator) : ResumeAnswer::Whole;
        if (answer == ResumeAnswer::Unusable) return RangeRefused(failure);
        const std::uint64_t offset = answer == ResumeAnswer::Continues ? resume.bytes : 0;
        if (answer == ResumeAnswer::Continues) Log(LogLevel::Note, "Resuming the download at byte ", offset);
        if (answer == ResumeAnswer::Whole && resume.Usable())
            Log(LogLevel::Note, "The server sent the whole package again; the download starts over");
        const auto whole = ParseContentRange(range);
        const std::uint64_t length = QueryContentLength(m_net, request);
        const std::uint64_t total = whole && whole->length ? whole->length : length ? offset + length : 0;

        unique_handle file(CreateFileW(m_attempt.file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(offset);
        if (!file || !SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get()))
            return FileFailure(failure);
        m_kept = ResumePoint{offset, validator};
        return ReceiveInto(file.get(), request, total, failure);
    }

    AttemptOutcome ReceiveInto(HANDLE file, HINTERNET request, std::uint64_t total, std::string& failure) {
        std::vector<char> buffer(kReadSize);
        DWORD pending = 0;  // bytes at the start of |buffer| that arrived and are not written yet
        const auto writePending = [&] {
            DWORD written = 0;
            if (pending != 0 && (!WriteFile(file, buffer.data(), pending, &written, nullptr) || written != pending))
                return false;
            m_kept.bytes += pending;  // what the file holds, for the next attempt
            pending = 0;
            return true;
        };
        ProgressPoster progress(m_attempt.window);
        for (;;) {
            // Asking first what has arrived keeps a slow server's every byte visible to the stall
            // watch and the progress bar: a read waits until it has all it asked for.
            DWORD available = 0;
            DWORD read = 0;
            if (!m_net.queryDataAvailable(request, &available) ||
                (available != 0 &&
                 !m_net.readData(request, buffer.data() + pending, std::min(available, kReadSize - pending), &read))) {
                const DWORD error = GetLastError();
                if (!writePending()) return FileFailure(failure);
                return BrokenConnection(error, failure);
            }
            if (read == 0) break;
            m_attempt.stall.Arrived();
            if (m_attempt.stop.load()) return Failed(false, "stopped");
            pending += read;
            // Small pieces gather into large writes while the package streams in; a slow one's
            // bytes are written as they come.
            if ((read < kFastPiece || kReadSize - pending < kSmallestRoom) && !writePending())
                return FileFailure(failure);
            // Without a total there is nothing the progress bar could show.
            if (total != 0) progress.Post(m_kept.bytes + pending, total);
        }
        if (!writePending()) return FileFailure(failure);
        if (total != 0) PostProgress(m_attempt.window, m_kept.bytes, total);
        if (total != 0 && m_kept.bytes < total) return CutShort(total, failure);
        if (!FlushFileBuffers(file)) return FileFailure(failure);
        return AttemptOutcome{AttemptOutcome::Kind::Succeeded, {}, std::nullopt, false};
    }

    // --- failures --------------------------------------------------------------------------

    static AttemptOutcome Failed(bool transient, std::string reason) {
        return AttemptOutcome{transient ? AttemptOutcome::Kind::Transient : AttemptOutcome::Kind::Permanent,
                              std::move(reason), std::nullopt, false};
    }
    AttemptOutcome Described(unsigned long error, const std::string& text, bool transient, std::string reason,
                             std::string& failure) {
        m_error = error;
        failure = FormatSystemError(kContext, error, text);
        return Failed(transient, std::move(reason));
    }
    AttemptOutcome NetworkFailure(DWORD error, const std::string& what, std::string& failure) {
        return Described(error, NetworkErrorText(error), IsTransientNetworkError(error),
                         what + " (error " + std::to_string(error) + ")", failure);
    }
    AttemptOutcome SendFailure(DWORD error, std::string& failure) {
        // A connection closed before any answer, or an answer that cannot be read: passing.
        if (error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE)
            return Described(error, "The server closed the connection without an answer.", true,
                             "the server closed the connection without an answer or with one that cannot be read",
                             failure);
        const std::string problem = CertificateProblemText(error, m_attempt.certificateProblems.load());
        if (problem.empty()) return NetworkFailure(error, "no answer from the server", failure);
        return Described(error, "The server's certificate was refused: " + problem + ".", false,
                         "the server's certificate was refused: " + problem + " (error " + std::to_string(error) + ")",
                         failure);
    }
    AttemptOutcome BrokenConnection(DWORD error, std::string& failure) {
        return NetworkFailure(error, "the connection broke after " + std::to_string(m_kept.bytes) + " bytes", failure);
    }
    AttemptOutcome FileFailure(std::string& failure) {
        m_error = GetLastError();
        failure = SystemErrorText(kContext);
        m_kept = {};
        return Failed(false, "the package file cannot be written: " + failure);
    }
    AttemptOutcome CutShort(std::uint64_t total, std::string& failure) {
        const std::string what = std::to_string(m_kept.bytes) + " of " + std::to_string(total) + " bytes";
        return Described(static_cast<unsigned long>(INET_E_DOWNLOAD_FAILURE),
                         "The connection ended after " + what + ".", true, "the connection ended after " + what,
                         failure);
    }
    AttemptOutcome HttpFailure(DWORD status, const std::wstring& retryAfter, std::string& failure) {
        const auto code = static_cast<unsigned long>(status == 404 || status == 410 ? INET_E_RESOURCE_NOT_FOUND
                                                                                    : INET_E_DOWNLOAD_FAILURE);
        AttemptOutcome outcome =
            Described(code, "The server answered with HTTP status " + std::to_string(status) + ".",
                      IsTransientHttpStatus(status), "HTTP status " + std::to_string(status), failure);
        outcome.retryAfter = ParseRetryAfter(WideToUtf8(retryAfter));
        return outcome;
    }
    // The connection ended before a status line could be read (a restarting server, a load
    // balancer): a passing failure like a refused connection.
    AttemptOutcome NoAnswer(std::string& failure) {
        return Described(static_cast<unsigned long>(INET_E_DOWNLOAD_FAILURE),
                         "The server closed the connection without an answer.", true,
                         "the server closed the connection without an answer", failure);
    }
    AttemptOutcome ProxySignInFailure(std::string& failure) {
        const std::string text = "The proxy " + m_proxyAddress + " requires a sign-in that this account does not have.";
        return Described(static_cast<unsigned long>(INET_E_AUTHENTICATION_REQUIRED), text, false,
                         "HTTP status 407 from the proxy " + m_proxyAddress, failure);
    }
    AttemptOutcome RedirectFailure(DWORD status, std::string& failure) {
        const std::string what =
            "HTTP status " + std::to_string(status) + ", a redirect without a usable address or one too many";
        return Described(static_cast<unsigned long>(INET_E_REDIRECT_FAILED), "The server answered with " + what + ".",
                         false, what, failure);
    }
    AttemptOutcome Downgrade(const std::wstring& next, std::string& failure) {
        const std::string to = WideToUtf8(next);
        return Described(static_cast<unsigned long>(INET_E_REDIRECT_FAILED),
                         "The https address was redirected to " + to + ", which is not https.", false,
                         "redirected from https to " + to, failure);
    }
    AttemptOutcome AddressFailure(const std::wstring& url, std::string& failure) {
        return Described(ERROR_WINHTTP_INVALID_URL, "The address " + WideToUtf8(url) + " cannot be used.", false,
                         "the address " + WideToUtf8(url) + " cannot be used", failure);
    }
    // The server does not continue the file the earlier attempts began: the next attempt starts
    // over.
    AttemptOutcome RangeRefused(std::string& failure) {
        m_kept = {};
        return Described(static_cast<unsigned long>(INET_E_DOWNLOAD_FAILURE),
                         "The server did not continue the package where the download broke.", true,
                         "the server did not continue the package where the download broke", failure);
    }

    Attempt& m_attempt;
    const WinHttp& m_net;
    HINTERNET m_session = nullptr;  // owned by the attempt, which may close it to end a blocked call
    std::string m_proxyAddress;     // empty: direct
    bool m_triedSignIn = false;
    std::wstring m_headers;
    ResumePoint m_kept;
    unsigned long m_error = 0;  // the error in the failure text
};

}  // namespace

TransferResult RunHttpTransfer(Attempt& attempt) { return HttpTransfer(attempt).Run(); }
