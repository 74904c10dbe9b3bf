#pragma once
// When a failed download attempt is tried again, and after how long. A transient failure (the
// connection refused, reset or dropped, a name that does not resolve, a stalled transfer, or an
// HTTP status that says "busy, try later") is retried up to kMaxDownloadAttempts in all, after a
// pause of 2, 4 and 8 seconds, or after the server's Retry-After (at most a minute). Everything
// else fails at once.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "install/run_seams.h"

inline constexpr int kMaxDownloadAttempts = 4;
// Attempts that keep making progress (a link that breaks again and again) do not count against
// kMaxDownloadAttempts; this many attempts in all end the download even so.
inline constexpr int kMostDownloadAttempts = 1000;
inline constexpr std::chrono::seconds kLongestRetryAfter{60};

// 408, 429, 500, 502, 503 and 504.
bool IsTransientHttpStatus(unsigned long status);

// The pause before attempt |failedAttempts| + 1, after |failedAttempts| (1, 2, 3) failures:
// |retryAfter| when the server gave one (capped at kLongestRetryAfter), else |firstDelay| doubled
// for each earlier failure (2, 4, 8 seconds with the default).
std::chrono::milliseconds RetryDelay(int failedAttempts, std::optional<std::chrono::seconds> retryAfter,
                                     std::chrono::milliseconds firstDelay = std::chrono::seconds(2));

// The delay of a Retry-After header in its seconds form ("120"); nothing for a date or anything
// that is not a plain number (the default pause applies then).
std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view header);

// True when a redirect from |from| to |to| gives up https: the build's address is https and the
// new one is anything else. Scheme names compare without regard to case.
bool IsSchemeDowngrade(std::string_view from, std::string_view to);

// True when a failed attempt is to be followed by another, after |countedFailures| failures that
// count (those without kept progress, this one included) in |attempts| attempts.
bool ShouldRetry(const AttemptOutcome& outcome, int countedFailures, int attempts);

// Runs |attempt| (given its number, from 1, and how many tries the failures before it used up)
// until it succeeds, is cancelled, fails for good or has
// failed kMaxDownloadAttempts times without keeping progress (or kMostDownloadAttempts attempts
// were made). Before each further attempt |retrying| hears of the failed one and |pause| waits the
// delay (after a failure that kept progress, the first delay); a pause that answers false
// (cancelled meanwhile) ends the attempts with a Cancelled outcome. Returns the last attempt's
// outcome.
using AttemptFunction = std::function<AttemptOutcome(int attempt, int triesUsed)>;
using PauseFunction = std::function<bool(std::chrono::milliseconds delay)>;
using RetryNotice =
    std::function<void(int failedAttempt, const AttemptOutcome& outcome, std::chrono::milliseconds delay)>;
AttemptOutcome RunWithRetries(const AttemptFunction& attempt, const PauseFunction& pause, const RetryNotice& retrying,
                              std::chrono::milliseconds firstDelay = std::chrono::seconds(2));
