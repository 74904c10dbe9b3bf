#pragma once
// The state one download attempt shares between the download worker, which waits and may give up
// on it, and the transfer thread. A transfer that does not end when asked is left behind with
// this state, which is all it touches: it posts no progress, writes nothing and logs nothing once
// stopped, and its file is its own.
#ifdef _WIN32
#include <windows.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include "common/unique_handle.h"
#include "install/download/resume_point.h"
#include "install/download/stall_watch.h"
#include "install/download/winhttp.h"
#include "install/run_seams.h"

struct Attempt {
    Attempt(const TransferRequest& asked, std::wstring attemptFile)
        : url(asked.url),
          file(std::move(attemptFile)),
          window(asked.window),
          stall(asked.stallLimit),
          proxy(asked.proxy),
          resume(asked.resume) {}

    const std::wstring url;
    const std::wstring file;  // this attempt's own file; holds |resume|'s bytes when it starts
    const HWND window;
    StallWatch stall;
    const std::optional<std::string> proxy;  // the --proxy option
    const ResumePoint resume;                // what the earlier attempts kept
    std::atomic<bool> stop{false};
    // The problems WinHTTP saw with the server's certificate (WINHTTP_CALLBACK_STATUS_FLAG_*).
    std::atomic<unsigned long> certificateProblems{0};
    unique_handle finished{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    TransferResult result;  // written by the transfer thread before |finished| is set

    // The session, the connection and the request of a hop; closing them ends a blocked call on
    // them. Whoever closes first (the transfer when done, the worker when it gives up) closes them
    // for both.
    enum class Slot { Session, Connection, Request };
    // The transfer thread's: keeps |handle| in |slot|, unless the attempt is over (then it is
    // closed at once). Returns the handle kept, or null.
    HINTERNET Adopt(Slot slot, HINTERNET handle) {
        HttpHandle owned(handle);
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_closed || !owned) return nullptr;
        HttpHandle& kept = Kept(slot);
        kept = std::move(owned);
        return kept.get();
    }
    void Close(Slot slot) {
        std::lock_guard<std::mutex> lock(m_lock);
        Kept(slot).reset();
    }
    void CloseAll() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_request.reset();
        m_connection.reset();
        m_session.reset();
        m_closed = true;
    }

private:
    HttpHandle& Kept(Slot slot) {
        return slot == Slot::Session ? m_session : slot == Slot::Connection ? m_connection : m_request;
    }
    std::mutex m_lock;
    HttpHandle m_session, m_connection, m_request;
    bool m_closed = false;
};

// The HTTP conversation of one attempt, on the transfer thread.
TransferResult RunHttpTransfer(Attempt& attempt);
#endif
