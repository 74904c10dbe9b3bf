#pragma once
// Move-only owner of a system handle, closed by its kind's own function. Both null and
// INVALID_HANDLE_VALUE count as "no handle".
//   unique_handle       kernel objects: files, processes, threads, events, mutexes (CloseHandle)
//   unique_find_handle  directory searches (FindClose)
#ifdef _WIN32
#include <windows.h>

#include <utility>

struct CloseHandlePolicy {
    static void Close(HANDLE handle) { CloseHandle(handle); }
};

struct FindClosePolicy {
    static void Close(HANDLE handle) { FindClose(handle); }
};

template <typename ClosePolicy>
class basic_unique_handle {
public:
    basic_unique_handle() = default;
    explicit basic_unique_handle(HANDLE handle) : m_handle(handle) {}
    basic_unique_handle(const basic_unique_handle&) = delete;
    basic_unique_handle& operator=(const basic_unique_handle&) = delete;
    basic_unique_handle(basic_unique_handle&& other) noexcept : m_handle(other.release()) {}
    basic_unique_handle& operator=(basic_unique_handle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~basic_unique_handle() { reset(); }

    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return valid(); }

    [[nodiscard]] HANDLE release() { return std::exchange(m_handle, nullptr); }

    // Closes the owned handle without disturbing the caller's last-error code.
    void reset(HANDLE handle = nullptr) {
        if (valid()) {
            const DWORD lastError = GetLastError();
            ClosePolicy::Close(m_handle);
            SetLastError(lastError);
        }
        m_handle = handle;
    }

private:
    HANDLE m_handle = nullptr;
};

using unique_handle = basic_unique_handle<CloseHandlePolicy>;
using unique_find_handle = basic_unique_handle<FindClosePolicy>;
#endif
