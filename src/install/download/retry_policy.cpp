#include "install/download/retry_policy.h"

#include <algorithm>
#include <cctype>

bool IsTransientHttpStatus(unsigned long status) {
    switch (status) {
        case 408:
        case 429:
        case 500:
        case 502:
        case 503:
        case 504:
            return true;
        default:
            return false;
    }
}

std::chrono::milliseconds RetryDelay(int failedAttempts, std::optional<std::chrono::seconds> retryAfter,
                                     std::chrono::milliseconds firstDelay) {
    if (retryAfter) return std::min(*retryAfter, kLongestRetryAfter);
    const int doublings = std::clamp(failedAttempts - 1, 0, kMaxDownloadAttempts);
    return firstDelay * (1 << doublings);
}

std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view header) {
    while (!header.empty() && (header.front() == ' ' || header.front() == '\t')) header.remove_prefix(1);
    while (!header.empty() && (header.back() == ' ' || header.back() == '\t')) header.remove_suffix(1);
    if (header.empty() || header.size() > 9) return std::nullopt;  // nine digits is years already
    long long seconds = 0;
    for (const char c : header) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        seconds = seconds * 10 + (c - '0');
    }
    return std::chrono::seconds(seconds);
}

namespace {
bool HasScheme(std::string_view url, std::string_view scheme) {
    if (url.size() <= scheme.size() || url[scheme.size()] != ':') return false;
    for (size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i]) return false;
    return true;
}
}  // namespace

bool IsSchemeDowngrade(std::string_view from, std::string_view to) {
    return HasScheme(from, "https") && !HasScheme(to, "https");
}

bool ShouldRetry(const AttemptOutcome& outcome, int countedFailures, int attempts) {
    return outcome.kind == AttemptOutcome::Kind::Transient && countedFailures < kMaxDownloadAttempts &&
           attempts < kMostDownloadAttempts;
}

AttemptOutcome RunWithRetries(const AttemptFunction& attempt, const PauseFunction& pause, const RetryNotice& retrying,
                              std::chrono::milliseconds firstDelay) {
    int countedFailures = 0;
    for (int number = 1;; ++number) {
        AttemptOutcome outcome = attempt(number, countedFailures);
        if (!outcome.keptProgress) ++countedFailures;
        if (!ShouldRetry(outcome, countedFailures, number)) return outcome;
        const std::chrono::milliseconds delay =
            RetryDelay(outcome.keptProgress ? 1 : countedFailures, outcome.retryAfter, firstDelay);
        retrying(number, outcome, delay);
        if (!pause(delay)) return AttemptOutcome{AttemptOutcome::Kind::Cancelled, "cancelled while waiting", {}};
    }
}
