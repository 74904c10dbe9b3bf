#pragma once
// Thins out the extraction's one-progress-step-per-entry: a package of thousands of small entries
// would otherwise post faster than the window repaints its bar, and posted messages are taken
// before input, so the Cancel click would wait behind them. The first and the last step always
// pass; in between, at most one per interval.
#include <cstdint>

class ProgressThrottle {
public:
    static constexpr std::uint64_t kIntervalMilliseconds = 15;

    // |now| in milliseconds from any fixed start.
    bool ShouldPost(std::uint32_t done, std::uint32_t total, std::uint64_t now) {
        const bool due = done <= 1 || done >= total || !m_posted || now - m_lastPost >= kIntervalMilliseconds;
        if (due) {
            m_posted = true;
            m_lastPost = now;
        }
        return due;
    }

private:
    bool m_posted = false;
    std::uint64_t m_lastPost = 0;
};
