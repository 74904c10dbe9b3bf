#pragma once
// The decoded data of an entry as an input stream: each underflow hands out one whole block of
// the decoder's output buffer, so a consumer costs one virtual call per block, not per byte.

#include <istream>
#include <memory>
#include <streambuf>

#include "zip/compression_interface.h"
#include "zip/stream_layers_fwd.h"

template <typename CharT, typename Traits = std::char_traits<CharT>>
class compression_decoder_streambuf final : public std::basic_streambuf<CharT, Traits> {
public:
    using int_type = typename Traits::int_type;
    using decoder_type = compression_decoder_interface<CharT, Traits>;

    compression_decoder_streambuf(std::shared_ptr<decoder_type> decoder, std::basic_istream<CharT, Traits>& source)
        : m_decoder(std::move(decoder)) {
        m_decoder->attach(source);
    }

protected:
    int_type underflow() override {
        if (this->gptr() < this->egptr()) return Traits::to_int_type(*this->gptr());
        CharT* const begin = m_decoder->output_begin();
        const std::size_t count = m_decoder->decode_step();
        if (count == 0) return Traits::eof();
        this->setg(begin, begin, begin + count);
        return Traits::to_int_type(*this->gptr());
    }

private:
    std::shared_ptr<decoder_type> m_decoder;
};

template <typename CharT, typename Traits>
class basic_compression_decoder_stream final : public std::basic_istream<CharT, Traits> {
public:
    basic_compression_decoder_stream(std::shared_ptr<compression_decoder_interface<CharT, Traits>> decoder,
                                     std::basic_istream<CharT, Traits>& source)
        : std::basic_istream<CharT, Traits>(nullptr), m_buffer(std::move(decoder), source) {
        this->rdbuf(&m_buffer);
    }

private:
    compression_decoder_streambuf<CharT, Traits> m_buffer;
};
