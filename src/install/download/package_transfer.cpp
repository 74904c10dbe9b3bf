#include "install/download/package_transfer.h"

#include <urlmon.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "common/log.h"
#include "common/system_error_text.h"
#include "common/system_library.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "install/cancel_signal.h"
#include "install/download/retry_policy.h"
#include "install/download/stall_watch.h"
#include "install/download/wininet.h"
#include "install/window_messages.h"

namespace {

constexpr char kContext[] = "Downloading install files";
constexpr wchar_t kAgent[] = L"QuorVel Setup";
// Never the cache, in either direction, and redirects are ours to check.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                                INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES;
constexpr wchar_t kRequestHeaders[] = L"Cache-Control: no-cache\r\nPragma: no-cache\r\n";
constexpr int kMostRedirects = 10;
constexpr DWORD kReadSize = 64 * 1024;
constexpr DWORD kWaitSliceMs = 250;
// How long a stopped transfer gets to end before it is left behind.
constexpr DWORD kGraceAfterStopMs = 3000;

AttemptOutcome Failed(bool transient, std::string reason) {
    return AttemptOutcome{transient ? AttemptOutcome::Kind::Transient : AttemptOutcome::Kind::Permanent,
                          std::move(reason), std::nullopt};
}

// State one attempt shares between the download worker, which waits and may give up on it, and
// the transfer thread. A transfer that does not end when asked is left behind with this state,
// which is all it touches: it posts no progress, writes nothing and logs nothing once stopped,
// and its file is its own.
struct Attempt {
    explicit Attempt(const TransferRequest& asked)
        : url(asked.url), file(AttemptFile(asked.file, asked.attempt)), window(asked.window), stall(asked.stallLimit) {}

    const std::wstring url;
    const std::wstring file;
    const HWND window;
    StallWatch stall;
    std::atomic<bool> stop{false};
    unique_handle finished{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    TransferResult result;  // written by the transfer thread before |finished| is set

    // The session and the open request; closing them ends a blocked call on them. Whoever closes
    // first (the transfer when done, the worker when it gives up) closes them for both.
    std::mutex handleLock;
    InternetHandle session;
    InternetHandle request;
    bool closed = false;

    void CloseHandles() {
        std::lock_guard<std::mutex> lock(handleLock);
        request.reset();
        session.reset();
        closed = true;
    }
    // The transfer thread's: keeps |handle| as the session, unless the attempt is over (then it
    // is closed at once).
    bool AdoptSession(HINTERNET handle) { return Adopt(session, handle); }
    // The same for the open request of a hop.
    bool Adopt(HINTERNET handle) { return Adopt(request, handle); }
    void CloseRequest() {
        std::lock_guard<std::mutex> lock(handleLock);
        request.reset();
    }

private:
    bool Adopt(InternetHandle& slot, HINTERNET handle) {
        InternetHandle owned(handle);
        std::lock_guard<std::mutex> lock(handleLock);
        if (closed) return false;
        slot = std::move(owned);
        return true;
    }
};

// The request of one hop, closed when the hop is done.
class RequestHandle {
public:
    RequestHandle(Attempt& attempt, HINTERNET handle)
        : m_attempt(attempt), m_handle(handle && attempt.Adopt(handle) ? handle : nullptr) {}
    ~RequestHandle() {
        if (m_handle) m_attempt.CloseRequest();
    }
    RequestHandle(const RequestHandle&) = delete;
    RequestHandle& operator=(const RequestHandle&) = delete;
    HINTERNET get() const { return m_handle; }

private:
    Attempt& m_attempt;
    HINTERNET m_handle;
};

std::wstring QueryText(HINTERNET request, DWORD what) {
    std::vector<wchar_t> buffer(1024, L'\0');
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (!WinInet::Get().queryInfo(request, what, buffer.data(), &size, nullptr)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
        buffer.assign(size / sizeof(wchar_t) + 1, L'\0');
        if (!WinInet::Get().queryInfo(request, what, buffer.data(), &size, nullptr)) return {};
    }
    return std::wstring(buffer.data());
}

DWORD QueryStatus(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinInet::Get().queryInfo(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return 0;
    return status;
}

unsigned long long QueryContentLength(HINTERNET request) {
    const std::wstring text = QueryText(request, HTTP_QUERY_CONTENT_LENGTH);
    return text.empty() ? 0 : std::wcstoull(text.c_str(), nullptr, 10);
}

bool IsRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

class Transfer {
public:
    explicit Transfer(Attempt& attempt) : m_attempt(attempt), m_net(WinInet::Get()) {}

    TransferResult Run() {
        TransferResult result;
        result.outcome = Fetch(result.failure);
        result.error = m_error;
        if (m_attempt.stop.load()) result.outcome = AttemptOutcome{AttemptOutcome::Kind::Cancelled, "stopped", {}};
        return result;
    }

private:
    AttemptOutcome Fetch(std::string& failure) {
        if (!m_net.Complete())
            return NetworkFailure(GetLastError(), "the system's internet functions are missing", failure);
        if (!OpenSession()) return NetworkFailure(GetLastError(), "no internet session", failure);
        std::wstring url = m_attempt.url;
        for (int redirects = 0;; ++redirects) {
            RequestHandle request(m_attempt, m_net.openUrl(m_session, url.c_str(), kRequestHeaders,
                                                           static_cast<DWORD>(-1L), kRequestFlags, 0));
            if (!request.get()) return NetworkFailure(GetLastError(), "no connection to the server", failure);
            m_attempt.stall.Arrived();
            SetTimeouts(request.get());
            const DWORD status = QueryStatus(request.get());
            if (status == 0) return NoAnswer(failure);
            if (IsRedirect(status)) {
                const std::wstring next = ResolveLocation(url, QueryText(request.get(), HTTP_QUERY_LOCATION));
                if (next.empty() || redirects >= kMostRedirects) return RedirectFailure(status, failure);
                if (IsSchemeDowngrade(WideToUtf8(m_attempt.url), WideToUtf8(next))) {
                    m_error = static_cast<unsigned long>(INET_E_REDIRECT_FAILED);
                    failure = FormatSystemError(
                        kContext, m_error,
                        "The https address was redirected to " + WideToUtf8(next) + ", which is not https.");
                    return Failed(false, "redirected from https to " + WideToUtf8(next));
                }
                url = next;
                continue;
            }
            if (status < 200 || status >= 300)
                return HttpFailure(status, QueryText(request.get(), HTTP_QUERY_RETRY_AFTER), failure);
            return Receive(request.get(), failure);
        }
    }

    bool OpenSession() {
        const HINTERNET session = m_net.open(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (!session || !m_attempt.AdoptSession(session)) return false;
        m_session = session;  // owned by the attempt, which may close it to end a blocked call
        SetTimeouts(session);
        return true;
    }

    // A backstop: the worker gives up on a silent transfer itself, but the thread should end too.
    void SetTimeouts(HINTERNET handle) {
        DWORD timeout = static_cast<DWORD>(m_attempt.stall.Limit().count());
        for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                                   INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT})
            m_net.setOption(handle, option, &timeout, sizeof timeout);
    }

    AttemptOutcome Receive(HINTERNET request, std::string& failure) {
        const unsigned long long total = QueryContentLength(request);
        unique_handle file(CreateFileW(m_attempt.file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            m_error = GetLastError();
            failure = SystemErrorText(kContext);
            return Failed(false, "the package file cannot be written: " + failure);
        }
        std::vector<char> buffer(kReadSize);
        unsigned long long received = 0;
        for (;;) {
            // A read waits until its whole buffer is filled; asking first what has arrived keeps a
            // slow server's every byte visible to the stall watch and the progress bar.
            DWORD available = 0;
            if (!m_net.available(request, &available, 0, 0))
                return NetworkFailure(GetLastError(),
                                      "the connection broke after " + std::to_string(received) + " bytes", failure);
            if (available == 0) break;
            DWORD read = 0;
            if (!m_net.read(request, buffer.data(), std::min(available, kReadSize), &read))
                return NetworkFailure(GetLastError(),
                                      "the connection broke after " + std::to_string(received) + " bytes", failure);
            if (read == 0) break;
            m_attempt.stall.Arrived();
            if (m_attempt.stop.load()) return Failed(false, "stopped");
            DWORD written = 0;
            if (!WriteFile(file.get(), buffer.data(), read, &written, nullptr) || written != read) {
                m_error = GetLastError();
                failure = SystemErrorText(kContext);
                return Failed(false, "the package file cannot be written: " + failure);
            }
            received += read;
            // Without a total there is nothing the progress bar could show.
            if (total != 0) PostProgress(m_attempt.window, received, total);
        }
        if (total != 0 && received < total) {
            m_error = static_cast<unsigned long>(INET_E_DOWNLOAD_FAILURE);
            failure = FormatSystemError(
                kContext, m_error,
                "The connection ended after " + std::to_string(received) + " of " + std::to_string(total) + " bytes.");
            return Failed(true, "the connection ended after " + std::to_string(received) + " of " +
                                    std::to_string(total) + " bytes");
        }
        if (!FlushFileBuffers(file.get())) {
            m_error = GetLastError();
            failure = SystemErrorText(kContext);
            return Failed(false, "the package file cannot be written: " + failure);
        }
        return AttemptOutcome{AttemptOutcome::Kind::Succeeded, {}, std::nullopt};
    }

    AttemptOutcome NetworkFailure(DWORD error, const std::string& what, std::string& failure) {
        m_error = error;
        failure = FormatSystemError(kContext, error, NetworkErrorText(error));
        return Failed(IsTransientNetworkError(error), what + " (error " + std::to_string(error) + ")");
    }

    AttemptOutcome HttpFailure(DWORD status, const std::wstring& retryAfter, std::string& failure) {
        const auto code = static_cast<unsigned long>(status == 404 || status == 410 ? INET_E_RESOURCE_NOT_FOUND
                                                                                    : INET_E_DOWNLOAD_FAILURE);
        m_error = code;
        failure =
            FormatSystemError(kContext, code, "The server answered with HTTP status " + std::to_string(status) + ".");
        AttemptOutcome outcome = Failed(IsTransientHttpStatus(status), "HTTP status " + std::to_string(status));
        outcome.retryAfter = ParseRetryAfter(WideToUtf8(retryAfter));
        return outcome;
    }
    // The connection ended before a status line could be read (a restarting server, a load
    // balancer): a passing failure like a refused connection.
    AttemptOutcome NoAnswer(std::string& failure) {
        m_error = static_cast<unsigned long>(INET_E_DOWNLOAD_FAILURE);
        failure = FormatSystemError(kContext, m_error, "The server closed the connection without an answer.");
        return Failed(true, "the server closed the connection without an answer");
    }
    AttemptOutcome RedirectFailure(DWORD status, std::string& failure) {
        const std::string what =
            "HTTP status " + std::to_string(status) + ", a redirect without a usable address or one too many";
        m_error = static_cast<unsigned long>(INET_E_REDIRECT_FAILED);
        failure = FormatSystemError(kContext, m_error, "The server answered with " + what + ".");
        return Failed(false, what);
    }

    Attempt& m_attempt;
    const WinInet& m_net;
    HINTERNET m_session = nullptr;
    unsigned long m_error = 0;  // the error in the failure text
};

// The transfer thread's body.
void RunAttempt(const std::shared_ptr<Attempt>& attempt) {
    TransferResult result = Transfer(*attempt).Run();
    attempt->CloseHandles();
    if (result.outcome.kind != AttemptOutcome::Kind::Succeeded) DeleteFileW(attempt->file.c_str());
    attempt->result = std::move(result);
    SetEvent(attempt->finished.get());
}

// Stops the transfer and waits a moment for it; a transfer that does not end is left behind.
bool StopAttempt(Attempt& attempt, std::thread& transfer) {
    attempt.stop.store(true);
    attempt.CloseHandles();
    if (WaitForSingleObject(attempt.finished.get(), kGraceAfterStopMs) == WAIT_OBJECT_0) {
        transfer.join();
        return true;
    }
    transfer.detach();
    LogWarning("The transfer did not stop when asked; it is left to end with the program");
    return false;
}

// A finished attempt: a package that arrived whole takes the place of the package file.
TransferResult Keep(const Attempt& attempt, const std::wstring& file) {
    TransferResult result = attempt.result;
    if (result.outcome.kind != AttemptOutcome::Kind::Succeeded) return result;
    if (!MoveFileExW(attempt.file.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        result.error = GetLastError();
        result.failure = SystemErrorText(kContext);
        result.outcome = Failed(false, "the package cannot be put in place: " + result.failure);
        DeleteFileW(attempt.file.c_str());
    }
    return result;
}

}  // namespace

std::wstring AttemptFile(const std::wstring& file, int attempt) { return file + L".part" + std::to_wstring(attempt); }

void RemoveAttemptFiles(const std::wstring& file) {
    // A file still held by a transfer left behind is not removable; the next run takes it.
    for (int attempt = 1; attempt <= kMaxDownloadAttempts; ++attempt) DeleteFileW(AttemptFile(file, attempt).c_str());
}

std::wstring ResolveLocation(const std::wstring& base, const std::wstring& location) {
    if (location.empty()) return {};
    const size_t schemeEnd = base.find(L"://");
    if (location.find(L"://") != std::wstring::npos) return location;
    if (schemeEnd == std::wstring::npos) return {};
    if (location.rfind(L"//", 0) == 0) return base.substr(0, schemeEnd + 1) + location;  // same scheme
    const size_t pathStart = base.find(L'/', schemeEnd + 3);
    const std::wstring origin = pathStart == std::wstring::npos ? base : base.substr(0, pathStart);
    if (location[0] == L'/') return origin + location;
    const size_t query = base.find_first_of(L"?#", schemeEnd + 3);
    const std::wstring path = base.substr(0, query);
    const size_t lastSlash = path.rfind(L'/');
    return (lastSlash != std::wstring::npos && lastSlash >= schemeEnd + 3 ? path.substr(0, lastSlash + 1)
                                                                          : origin + L"/") +
           location;
}

TransferResult TransferPackage(const TransferRequest& request) {
    auto attempt = std::make_shared<Attempt>(request);
    if (!attempt->finished) {
        TransferResult result;
        result.error = GetLastError();
        result.failure = SystemErrorText(kContext);
        result.outcome = Failed(false, result.failure);
        return result;
    }
    std::thread transfer(RunAttempt, attempt);
    const HANDLE cancelEvent = request.cancel ? request.cancel->Event() : nullptr;
    const HANDLE watched[] = {attempt->finished.get(), cancelEvent};
    for (;;) {
        const DWORD slice =
            static_cast<DWORD>(std::min<long long>(attempt->stall.TimeLeft().count() + 1, kWaitSliceMs));
        const DWORD woke = WaitForMultipleObjects(cancelEvent ? 2 : 1, watched, FALSE, slice);
        if (woke == WAIT_OBJECT_0) {
            transfer.join();
            return Keep(*attempt, request.file);
        }
        const bool cancelled = request.cancel && request.cancel->IsRequested();
        if (cancelled || attempt->stall.Stalled() || woke == WAIT_FAILED) {
            StopAttempt(*attempt, transfer);
            TransferResult result;
            if (cancelled) {
                result.outcome = AttemptOutcome{AttemptOutcome::Kind::Cancelled, "cancelled", {}};
                return result;
            }
            result.outcome =
                Failed(true, "no data arrived for " + std::to_string(attempt->stall.Limit().count() / 1000) + " s");
            result.error = ERROR_INTERNET_TIMEOUT;
            result.failure =
                FormatSystemError(kContext, ERROR_INTERNET_TIMEOUT, NetworkErrorText(ERROR_INTERNET_TIMEOUT));
            return result;
        }
    }
}
