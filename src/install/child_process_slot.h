#pragma once
// The setup program a run is waiting for. The slot owns the process handle: the setup stage puts
// the handle in, waits on it and empties the slot when the wait has ended, so the handle is closed
// exactly once and never under a pending wait. The close handling only looks: it never closes a
// handle a worker may still be waiting on.
#ifdef _WIN32
#include <windows.h>

#include <mutex>

#include "common/unique_handle.h"

class ChildProcessSlot {
public:
    // Takes ownership of |process| and returns it for the wait.
    HANDLE Hold(unique_handle process) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_process = std::move(process);
        return m_process.get();
    }
    // Closes the handle held, after the wait on it has ended.
    void Release() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_process.reset();
    }
    bool Running() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_process.valid();
    }

private:
    mutable std::mutex m_lock;
    unique_handle m_process;
};
#endif
