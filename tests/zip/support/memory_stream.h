#pragma once
// An archive held in memory, readable like a file: seeks anywhere at or after the start (reads
// past the end just deliver nothing), and underflow hands the bytes out in chunks whose sizes
// follow a cycle (for example 1, 7, 31), so that every layer above meets short reads.

#include <istream>
#include <streambuf>
#include <string>
#include <vector>

class MemoryFileBuf : public std::streambuf {
public:
    explicit MemoryFileBuf(std::string data, std::vector<std::size_t> chunkSizes = {})
        : m_data(std::move(data)), m_chunks(std::move(chunkSizes)) {}

protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        m_position = Position();
        if (m_position >= m_data.size()) return traits_type::eof();
        std::size_t size = m_data.size() - m_position;
        if (!m_chunks.empty()) size = std::min(size, m_chunks[m_nextChunk++ % m_chunks.size()]);
        char* begin = m_data.data() + m_position;
        setg(begin, begin, begin + size);
        return traits_type::to_int_type(*gptr());
    }

    pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode) override {
        off_type base = 0;
        if (direction == std::ios_base::cur) base = static_cast<off_type>(Position());
        if (direction == std::ios_base::end) base = static_cast<off_type>(m_data.size());
        return MoveTo(base + offset);
    }
    pos_type seekpos(pos_type position, std::ios_base::openmode) override { return MoveTo(position); }

private:
    // Position of the next byte to be read.
    std::size_t Position() const { return gptr() ? static_cast<std::size_t>(gptr() - m_data.data()) : m_position; }

    pos_type MoveTo(off_type target) {
        if (target < 0) return pos_type(off_type(-1));
        m_position = static_cast<std::size_t>(target);
        setg(nullptr, nullptr, nullptr);
        return pos_type(target);
    }

    std::string m_data;
    std::vector<std::size_t> m_chunks;
    std::size_t m_nextChunk = 0;
    std::size_t m_position = 0;
};

// An input stream over MemoryFileBuf that owns its buffer.
class MemoryFileStream : public std::istream {
public:
    explicit MemoryFileStream(std::string data, std::vector<std::size_t> chunkSizes = {})
        : std::istream(nullptr), m_buffer(std::move(data), std::move(chunkSizes)) {
        rdbuf(&m_buffer);
    }

private:
    MemoryFileBuf m_buffer;
};
