#include "install/download/stall_watch.h"

#include <utility>

StallWatch::StallWatch(std::chrono::milliseconds limit, Clock clock)
    : m_limit(limit), m_clock(std::move(clock)), m_lastArrival(m_clock().time_since_epoch().count()) {}

void StallWatch::Arrived() { m_lastArrival.store(m_clock().time_since_epoch().count()); }

std::chrono::steady_clock::duration StallWatch::SinceLastArrival() const {
    const std::chrono::steady_clock::duration last(m_lastArrival.load());
    return m_clock().time_since_epoch() - last;
}

bool StallWatch::Stalled() const { return SinceLastArrival() >= m_limit; }

std::chrono::milliseconds StallWatch::TimeLeft() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_limit - SinceLastArrival());
    return left.count() > 0 ? left : std::chrono::milliseconds(0);
}
