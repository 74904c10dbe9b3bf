// The decisions of a run that hold real logic, tested without any network or clock of the
// system: when a download is tried again and after how long, when a transfer has stalled, and a
// wait that a cancel ends at once.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "install/cancel_signal.h"
#include "install/download/retry_policy.h"
#include "install/download/stall_watch.h"

namespace {

using namespace std::chrono_literals;
using Kind = AttemptOutcome::Kind;

TEST(RetryPolicy, OnlyBusyOrTimedOutHttpStatusesAreTransient) {
    const struct {
        unsigned long status;
        bool transient;
    } cases[] = {{408, true},  {429, true},  {500, true},  {502, true},  {503, true},  {504, true},
                 {200, false}, {301, false}, {400, false}, {401, false}, {403, false}, {404, false},
                 {410, false}, {501, false}, {505, false}, {0, false}};
    for (const auto& c : cases) EXPECT_EQ(c.transient, IsTransientHttpStatus(c.status)) << c.status;
}

TEST(RetryPolicy, DelaysDoubleFromTwoSecondsOrFollowTheServerUpToAMinute) {
    const struct {
        int failed;
        std::optional<std::chrono::seconds> retryAfter;
        std::chrono::milliseconds delay;
    } cases[] = {{1, {}, 2s}, {2, {}, 4s},   {3, {}, 8s},   {1, 5s, 5s},     {3, 1s, 1s},
                 {1, 0s, 0s}, {2, 60s, 60s}, {1, 61s, 60s}, {1, 86400s, 60s}};
    for (const auto& c : cases)
        EXPECT_EQ(c.delay.count(), RetryDelay(c.failed, c.retryAfter).count())
            << "after " << c.failed << " failures, Retry-After " << (c.retryAfter ? c.retryAfter->count() : -1);
    EXPECT_EQ(400, RetryDelay(3, std::nullopt, 100ms).count()) << "a shorter first delay doubles the same way";
}

TEST(RetryPolicy, RetryAfterIsReadOnlyInItsSecondsForm) {
    const struct {
        const char* header;
        long long seconds;  // -1: not understood
    } cases[] = {{"120", 120},      {" 7 ", 7},  {"0", 0},    {"", -1},
                 {"-3", -1},        {"1.5", -1}, {"12a", -1}, {"Wed, 21 Oct 2015 07:28:00 GMT", -1},
                 {"9999999999", -1}};
    for (const auto& c : cases) {
        const auto parsed = ParseRetryAfter(c.header);
        EXPECT_EQ(c.seconds, parsed ? parsed->count() : -1) << '"' << c.header << '"';
    }
}

// Attempts scripted as a list of outcomes; records the pauses asked for.
struct ScriptedAttempts {
    explicit ScriptedAttempts(std::vector<AttemptOutcome> scripted) : outcomes(std::move(scripted)) {}

    std::vector<AttemptOutcome> outcomes;
    std::vector<long long> pauses;  // milliseconds
    std::vector<int> notices;
    int made = 0;
    bool pauseCancelled = false;

    AttemptOutcome Run() {
        return RunWithRetries(
            [this](int number, int triesUsed) {
                EXPECT_EQ(made + 1, number);
                int used = 0;
                for (int i = 0; i < made; ++i) used += outcomes.at(static_cast<size_t>(i)).keptProgress ? 0 : 1;
                EXPECT_EQ(used, triesUsed) << "attempt " << number;
                return outcomes.at(static_cast<size_t>(made++));
            },
            [this](std::chrono::milliseconds delay) {
                pauses.push_back(delay.count());
                return !pauseCancelled;
            },
            [this](int failed, const AttemptOutcome&, std::chrono::milliseconds) { notices.push_back(failed); });
    }
};

AttemptOutcome Outcome(Kind kind, std::optional<std::chrono::seconds> retryAfter = {}) {
    return AttemptOutcome{kind, "reason", retryAfter, false};
}

// A break after which more of the package is kept than before.
AttemptOutcome Progress() { return AttemptOutcome{Kind::Transient, "cut", {}, true}; }

TEST(RunWithRetries, TransientFailuresAreTriedFourTimesInAll) {
    const struct {
        const char* name;
        std::vector<AttemptOutcome> outcomes;
        Kind result;
        int attempts;
        std::vector<long long> pauses;
    } cases[] = {
        {"first succeeds", {Outcome(Kind::Succeeded)}, Kind::Succeeded, 1, {}},
        {"permanent fails at once", {Outcome(Kind::Permanent)}, Kind::Permanent, 1, {}},
        {"cancel ends at once", {Outcome(Kind::Cancelled)}, Kind::Cancelled, 1, {}},
        {"two drops then success",
         {Outcome(Kind::Transient), Outcome(Kind::Transient), Outcome(Kind::Succeeded)},
         Kind::Succeeded,
         3,
         {2000, 4000}},
        {"always busy",
         {Outcome(Kind::Transient), Outcome(Kind::Transient), Outcome(Kind::Transient), Outcome(Kind::Transient)},
         Kind::Transient,
         4,
         {2000, 4000, 8000}},
        {"breaks that keep progress do not use up the tries",
         {Progress(), Progress(), Progress(), Progress(), Progress(), Outcome(Kind::Succeeded)},
         Kind::Succeeded,
         6,
         {2000, 2000, 2000, 2000, 2000}},
        {"only failures without progress count",
         {Outcome(Kind::Transient), Progress(), Outcome(Kind::Transient), Progress(), Outcome(Kind::Transient),
          Outcome(Kind::Transient)},
         Kind::Transient,
         6,
         {2000, 2000, 4000, 2000, 8000}},
        {"busy with Retry-After, then 404",
         {Outcome(Kind::Transient, 1s), Outcome(Kind::Permanent)},
         Kind::Permanent,
         2,
         {1000}},
    };
    for (const auto& c : cases) {
        ScriptedAttempts script(c.outcomes);
        EXPECT_EQ(c.result, script.Run().kind) << c.name;
        EXPECT_EQ(c.attempts, script.made) << c.name;
        EXPECT_EQ(c.pauses, script.pauses) << c.name;
        EXPECT_EQ(c.pauses.size(), script.notices.size()) << c.name << ": one notice per failed attempt retried";
    }
}

TEST(RunWithRetries, ACancelDuringThePauseEndsTheAttempts) {
    ScriptedAttempts script({Outcome(Kind::Transient), Outcome(Kind::Succeeded)});
    script.pauseCancelled = true;
    EXPECT_EQ(Kind::Cancelled, script.Run().kind);
    EXPECT_EQ(1, script.made) << "no attempt after the cancel";
}

// A clock that moves only when the test says so.
struct FakeClock {
    std::chrono::steady_clock::time_point now{std::chrono::hours(1000)};
    StallWatch::Clock Function() {
        return [this] { return now; };
    }
};

TEST(StallWatch, ThirtySecondsWithoutAByteIsAStall) {
    FakeClock clock;
    StallWatch watch(kStallLimit, clock.Function());
    EXPECT_EQ(30000, watch.Limit().count());
    clock.now += 29s;
    EXPECT_FALSE(watch.Stalled()) << "no byte yet, but not 30 s either";
    EXPECT_EQ(1000, watch.TimeLeft().count());
    watch.Arrived();
    clock.now += 29999ms;
    EXPECT_FALSE(watch.Stalled()) << "each arrival starts the count again";
    clock.now += 1ms;
    EXPECT_TRUE(watch.Stalled());
    EXPECT_EQ(0, watch.TimeLeft().count());
    watch.Arrived();
    EXPECT_FALSE(watch.Stalled()) << "a late byte ends the stall";
}

TEST(StallWatch, ArrivalsFromAnotherThreadAreSeen) {
    StallWatch watch(200ms);
    std::thread transfer([&watch] {
        for (int i = 0; i < 20; ++i) {
            watch.Arrived();
            std::this_thread::sleep_for(10ms);
        }
    });
    for (int i = 0; i < 20; ++i) {
        EXPECT_FALSE(watch.Stalled());
        std::this_thread::sleep_for(5ms);
    }
    transfer.join();
}

TEST(CancelSignal, AWaitEndsWhenTheCancelComesNotWhenItsTimeIsUp) {
    CancelSignal cancel;
    EXPECT_FALSE(cancel.WaitFor(10ms)) << "time up, no cancel";

    const auto start = std::chrono::steady_clock::now();
    std::thread closer([&cancel] {
        std::this_thread::sleep_for(50ms);
        EXPECT_TRUE(cancel.Request()) << "the first request sets it";
    });
    EXPECT_TRUE(cancel.WaitFor(60s));
    const auto waited = std::chrono::steady_clock::now() - start;
    closer.join();
    EXPECT_LT(waited, 30s) << "the wait ended with the cancel, long before its time";

    EXPECT_TRUE(cancel.IsRequested());
    EXPECT_FALSE(cancel.Request()) << "later requests change nothing";
    EXPECT_TRUE(cancel.WaitFor(60s)) << "a wait after the cancel returns at once";
}

#ifdef _WIN32
TEST(CancelSignal, ItsEventIsSetByTheRequest) {
    CancelSignal cancel;
    ASSERT_NE(nullptr, cancel.Event());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(cancel.Event(), 0));
    cancel.Request();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(cancel.Event(), 0));
}
#endif

}  // namespace

namespace {
TEST(SchemeDowngrade, AnHttpsAddressMayOnlyBeRedirectedToHttps) {
    const struct {
        const char* from;
        const char* to;
        bool downgrade;
    } cases[] = {
        {"https://a.test/x.zip", "https://cdn.test/x.zip", false},
        {"https://a.test/x.zip", "HTTPS://cdn.test:8443/x.zip", false},
        {"https://a.test/x.zip", "http://cdn.test/x.zip", true},
        {"HTTPS://a.test/x.zip", "http://a.test/x.zip", true},
        {"https://a.test/x.zip", "ftp://a.test/x.zip", true},
        {"https://a.test/x.zip", "httpsx://a.test/x.zip", true},
        {"https://a.test/x.zip", "/relative/x.zip", true},
        {"http://a.test/x.zip", "http://b.test:81/x.zip", false},
        {"http://a.test/x.zip", "https://b.test/x.zip", false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.downgrade, IsSchemeDowngrade(c.from, c.to)) << c.from << " -> " << c.to;
}
}  // namespace
