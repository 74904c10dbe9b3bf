#pragma once
// A buffer of fixed size whose bytes are left as they come from the allocator: for windows that
// are always written before they are read. Clearing a megabyte each time one is made costs more
// than decoding a small block or entry into it.

#include <cstddef>
#include <memory>

class ScratchBuffer {
public:
    ScratchBuffer() = default;
    explicit ScratchBuffer(std::size_t size) : m_bytes(new char[size]), m_size(size) {}

    char* data() { return m_bytes.get(); }
    const char* data() const { return m_bytes.get(); }
    std::size_t size() const { return m_size; }

private:
    std::unique_ptr<char[]> m_bytes;  // default-initialised: not cleared
    std::size_t m_size = 0;
};
