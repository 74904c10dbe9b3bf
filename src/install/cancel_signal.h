#pragma once
// The cancel request of one run: a flag that is set once and never cleared, and that a wait can
// watch, so that a pause between download attempts or a wait for a transfer ends the moment the
// user cancels. On Windows it also carries an event for WaitForMultipleObjects.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#ifdef _WIN32
#include <windows.h>

#include "common/unique_handle.h"
#endif

class CancelSignal {
public:
    CancelSignal();
    CancelSignal(const CancelSignal&) = delete;
    CancelSignal& operator=(const CancelSignal&) = delete;

    // Sets the flag and wakes every wait. True for the request that set it, false afterwards.
    bool Request();
    bool IsRequested() const { return m_requested.load(); }

    // Waits for |timeout| unless the cancel comes first. True when the run is cancelled (also
    // when it was before the call), false when the time ran out.
    bool WaitFor(std::chrono::milliseconds timeout) const;

#ifdef _WIN32
    // A manual-reset event set by Request; null only if the system could not make one.
    HANDLE Event() const { return m_event.get(); }
#endif

private:
    std::atomic<bool> m_requested{false};
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
#ifdef _WIN32
    unique_handle m_event;
#endif
};
