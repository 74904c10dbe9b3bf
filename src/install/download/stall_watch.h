#pragma once
// Tells a transfer that has gone quiet from one that is merely slow: the transfer marks each
// arrival of bytes, another thread asks whether the last one is longer ago than the limit. The
// clock is a seam, so that the limit can be tested without waiting for it.
#include <atomic>
#include <chrono>
#include <functional>

#include "install/run_seams.h"

class StallWatch {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // Starts counting now: a transfer that never receives a byte stalls after |limit| too.
    explicit StallWatch(std::chrono::milliseconds limit = kStallLimit, Clock clock = std::chrono::steady_clock::now);

    // Any thread: bytes arrived.
    void Arrived();
    // Any thread: no byte for at least the limit.
    bool Stalled() const;
    // How long until Stalled() can become true at the earliest (zero once stalled).
    std::chrono::milliseconds TimeLeft() const;
    std::chrono::milliseconds Limit() const { return m_limit; }

private:
    std::chrono::steady_clock::duration SinceLastArrival() const;

    std::chrono::milliseconds m_limit;
    Clock m_clock;
    std::atomic<std::chrono::steady_clock::rep> m_lastArrival;
};
