#include "install/cancel_signal.h"

#ifdef _WIN32
CancelSignal::CancelSignal() : m_event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
#else
CancelSignal::CancelSignal() = default;
#endif

bool CancelSignal::Request() {
    bool first = false;
    {
        // Under the lock, so that a wait that has just tested the flag cannot miss the wake-up.
        std::lock_guard<std::mutex> lock(m_lock);
        first = !m_requested.exchange(true);
    }
    m_changed.notify_all();
#ifdef _WIN32
    if (m_event) SetEvent(m_event.get());
#endif
    return first;
}

bool CancelSignal::WaitFor(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, timeout, [this] { return m_requested.load(); });
}
