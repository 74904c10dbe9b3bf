#pragma once
// A read-only window of |length| bytes of a source stream, starting at an absolute position.
// The window re-seeks the source before every block read, so that several windows over the one
// archive stream can be read alternately. It cannot be repositioned itself.

#include <algorithm>
#include <cstdint>
#include <istream>
#include <streambuf>
#include <vector>

#include "zip/stream_layers_fwd.h"

template <typename CharT, typename Traits = std::char_traits<CharT>>
class sub_streambuf final : public std::basic_streambuf<CharT, Traits> {
public:
    using int_type = typename Traits::int_type;
    using source_type = std::basic_istream<CharT, Traits>;
    static constexpr std::streamoff kBlockSize = 32768;

    sub_streambuf(source_type& source, std::streamoff start, std::uint64_t length)
        : m_source(source),
          m_current(start),
          m_end(start + static_cast<std::streamoff>(length)),
          m_buffer(static_cast<std::size_t>(kBlockSize)) {}

protected:
    int_type underflow() override {
        if (this->gptr() < this->egptr()) return Traits::to_int_type(*this->gptr());
        const std::streamsize count = ReadAt(m_buffer.data(), kBlockSize);
        if (count == 0) return Traits::eof();
        this->setg(m_buffer.data(), m_buffer.data(), m_buffer.data() + count);
        return Traits::to_int_type(*this->gptr());
    }

    // Large reads go straight into the caller's buffer instead of through the block buffer.
    std::streamsize xsgetn(CharT* out, std::streamsize wanted) override {
        std::streamsize done = std::min<std::streamsize>(wanted, this->egptr() - this->gptr());
        std::copy(this->gptr(), this->gptr() + done, out);
        this->gbump(static_cast<int>(done));
        while (done < wanted) {
            if (wanted - done < kBlockSize) {
                const std::streamsize rest = std::basic_streambuf<CharT, Traits>::xsgetn(out + done, wanted - done);
                return done + rest;
            }
            const std::streamsize count = ReadAt(out + done, wanted - done);
            if (count == 0) break;
            done += count;
        }
        return done;
    }

private:
    // Reads at most |wanted| bytes of what is left of the window at the current position.
    std::streamsize ReadAt(CharT* out, std::streamsize wanted) {
        const std::streamoff left = m_end - m_current;
        if (left <= 0) return 0;
        // A short read by another window may have left the source failed; this window's read
        // position must still be established.
        m_source.clear();
        m_source.seekg(m_current);
        m_source.read(out, static_cast<std::streamsize>(std::min<std::streamoff>({left, wanted, kBlockSize})));
        const std::streamsize count = m_source.gcount();
        m_current += count;
        return count;
    }

    source_type& m_source;
    std::streamoff m_current;
    std::streamoff m_end;
    std::vector<CharT> m_buffer;
};

template <typename CharT, typename Traits>
class basic_isubstream final : public std::basic_istream<CharT, Traits> {
public:
    basic_isubstream(std::basic_istream<CharT, Traits>& source, std::streamoff start, std::uint64_t length)
        : std::basic_istream<CharT, Traits>(nullptr), m_buffer(source, start, length) {
        this->rdbuf(&m_buffer);
    }

private:
    sub_streambuf<CharT, Traits> m_buffer;
};
