#pragma once
// Method 8: raw deflate (no zlib or gzip wrapper, 32 KiB window) over zlib's inflate.

#include <zlib.h>

#include <vector>

#include "zip/compression_interface.h"

struct deflate_decoder_properties : decoder_properties_basic {};

template <typename CharT, typename Traits = std::char_traits<CharT>>
class basic_deflate_decoder final : public compression_decoder_interface<CharT, Traits> {
public:
    using source_type = typename compression_decoder_interface<CharT, Traits>::source_type;

    basic_deflate_decoder() = default;
    basic_deflate_decoder(const basic_deflate_decoder&) = delete;
    basic_deflate_decoder& operator=(const basic_deflate_decoder&) = delete;
    ~basic_deflate_decoder() override { EndStream(); }

    bool is_ready() const override { return !m_output.empty(); }
    std::uint64_t bytes_consumed() const override { return m_consumed; }
    std::uint64_t bytes_produced() const override { return m_produced; }
    CharT* output_begin() override { return m_output.data(); }
    CharT* output_end() override { return m_output.data() + m_lastOutput; }

    void attach(source_type& source, const decoder_properties_basic& properties) override {
        EndStream();
        m_source = &source;
        m_inputEnded = false;
        m_consumed = m_produced = 0;
        m_lastInput = m_lastOutput = 0;
        m_capacity = EffectiveCapacity(properties);
        m_input.assign(m_capacity, CharT());
        m_output.assign(m_capacity, CharT());
        m_stream = z_stream{};
        m_stream.avail_out = ~0u;  // "the last step left room": the first step reads input
        m_lastResult = inflateInit2(&m_stream, -MAX_WBITS);
        m_initialised = m_lastResult == Z_OK;
    }
    void attach(source_type& source) override { attach(source, deflate_decoder_properties{}); }

    std::size_t decode_step() override {
        if (!m_initialised || m_failed) return 0;
        for (;;) {
            // Output room left by the last call means inflate used up its input.
            if (m_stream.avail_out != 0) {
                if (m_inputEnded) return 0;
                ReadInput();
            }
            m_stream.next_out = reinterpret_cast<Bytef*>(m_output.data());
            m_stream.avail_out = static_cast<uInt>(m_capacity);
            m_lastResult = inflate(&m_stream, Z_NO_FLUSH);
            if (m_lastResult < 0 && m_lastResult != Z_BUF_ERROR) {
                m_failed = true;  // corrupt data ends the entry here
                return 0;
            }
            m_lastOutput = m_capacity - m_stream.avail_out;
            m_produced += m_lastOutput;
            if (m_lastResult == Z_STREAM_END) {
                m_inputEnded = true;
                GiveBackUnusedInput();
            }
            if (m_lastOutput != 0) return m_lastOutput;
        }
    }

private:
    void ReadInput() {
        m_lastInput = ReadBlock(*m_source, m_input.data(), m_capacity);
        m_consumed += m_lastInput;
        m_inputEnded = m_lastInput < m_capacity;
        m_stream.next_in = reinterpret_cast<Bytef*>(m_input.data());
        m_stream.avail_in = static_cast<uInt>(m_lastInput);
    }

    // Bytes after the end of the deflate data belong to whatever follows; a source that can be
    // repositioned gets them back (the sub-stream of an entry cannot, and has nothing after).
    void GiveBackUnusedInput() {
        if (m_stream.avail_in == 0) return;
        m_source->clear();
        m_source->seekg(-static_cast<std::streamoff>(m_stream.avail_in), std::ios::cur);
        m_stream.avail_in = 0;
    }

    void EndStream() {
        if (m_initialised) inflateEnd(&m_stream);
        m_initialised = false;
        m_failed = false;
    }

    z_stream m_stream{};
    source_type* m_source = nullptr;
    bool m_inputEnded = false;
    std::size_t m_capacity = 0;
    std::vector<CharT> m_input;
    std::vector<CharT> m_output;
    std::size_t m_lastInput = 0;
    std::size_t m_lastOutput = 0;
    std::uint64_t m_consumed = 0;
    std::uint64_t m_produced = 0;
    int m_lastResult = Z_OK;
    bool m_initialised = false;
    bool m_failed = false;
};

using deflate_decoder = basic_deflate_decoder<char>;
