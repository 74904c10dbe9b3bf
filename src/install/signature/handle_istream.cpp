#include "install/signature/handle_istream.h"

namespace {
constexpr std::size_t kBufferSize = 1 << 16;
}

HandleStreamBuf::HandleStreamBuf(HANDLE file) : m_file(file), m_buffer(kBufferSize) {
    setg(m_buffer.data(), m_buffer.data(), m_buffer.data());
}

HandleStreamBuf::int_type HandleStreamBuf::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(m_next & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(m_next >> 32);
    DWORD got = 0;
    // At the end of the file a synchronous handle answers ERROR_HANDLE_EOF: both end the stream.
    if (!ReadFile(m_file, m_buffer.data(), static_cast<DWORD>(m_buffer.size()), &got, &at) || got == 0)
        return traits_type::eof();
    setg(m_buffer.data(), m_buffer.data(), m_buffer.data() + got);
    m_next += got;
    return traits_type::to_int_type(*gptr());
}

HandleStreamBuf::pos_type HandleStreamBuf::seekoff(off_type offset, std::ios_base::seekdir from,
                                                   std::ios_base::openmode which) {
    const pos_type failed(off_type(-1));
    if (!(which & std::ios_base::in)) return failed;
    long long base = 0;
    if (from == std::ios_base::cur) {
        base = static_cast<long long>(m_next) - (egptr() - gptr());
    } else if (from == std::ios_base::end) {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(m_file, &size)) return failed;
        base = size.QuadPart;
    }
    const long long target = base + static_cast<long long>(offset);
    if (target < 0) return failed;
    m_next = static_cast<std::uint64_t>(target);
    setg(m_buffer.data(), m_buffer.data(), m_buffer.data());
    return pos_type(off_type(target));
}

HandleStreamBuf::pos_type HandleStreamBuf::seekpos(pos_type position, std::ios_base::openmode which) {
    return seekoff(off_type(position), std::ios_base::beg, which);
}
