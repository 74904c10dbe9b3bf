#pragma once
// Move-only owner of a kernel handle. Both null and INVALID_HANDLE_VALUE count as "no handle".
#ifdef _WIN32
#include <windows.h>

#include <utility>

class unique_handle {
public:
    unique_handle() = default;
    explicit unique_handle(HANDLE handle) : m_handle(handle) {}
    unique_handle(const unique_handle&) = delete;
    unique_handle& operator=(const unique_handle&) = delete;
    unique_handle(unique_handle&& other) noexcept : m_handle(other.release()) {}
    unique_handle& operator=(unique_handle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_handle() { reset(); }

    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return valid(); }

    [[nodiscard]] HANDLE release() { return std::exchange(m_handle, nullptr); }

    // Closes the owned handle without disturbing the caller's last-error code.
    void reset(HANDLE handle = nullptr) {
        if (valid()) {
            const DWORD lastError = GetLastError();
            CloseHandle(m_handle);
            SetLastError(lastError);
        }
        m_handle = handle;
    }

private:
    HANDLE m_handle = nullptr;
};
#endif
