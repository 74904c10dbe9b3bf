#pragma once
// Method 12: bzip2 over libbzip2.

#include <bzlib.h>

#include <vector>

#include "zip/compression_interface.h"

struct bzip2_decoder_properties : decoder_properties_basic {};

template <typename CharT, typename Traits = std::char_traits<CharT>>
class basic_bzip2_decoder final : public compression_decoder_interface<CharT, Traits> {
public:
    using source_type = typename compression_decoder_interface<CharT, Traits>::source_type;

    basic_bzip2_decoder() = default;
    basic_bzip2_decoder(const basic_bzip2_decoder&) = delete;
    basic_bzip2_decoder& operator=(const basic_bzip2_decoder&) = delete;
    ~basic_bzip2_decoder() override { EndStream(); }

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
        m_stream = bz_stream{};
        m_stream.avail_out = ~0u;  // "the last step left room": the first step reads input
        m_lastResult = BZ2_bzDecompressInit(&m_stream, 0, 0);
        m_initialised = m_lastResult == BZ_OK;
    }
    void attach(source_type& source) override { attach(source, bzip2_decoder_properties{}); }

    std::size_t decode_step() override {
        if (!m_initialised || m_failed) return 0;
        for (;;) {
            if (m_stream.avail_out != 0) {
                if (m_inputEnded) return 0;
                ReadInput();
            }
            m_stream.next_out = reinterpret_cast<char*>(m_output.data());
            m_stream.avail_out = static_cast<unsigned int>(m_capacity);
            m_lastResult = BZ2_bzDecompress(&m_stream);
            if (m_lastResult < 0) {
                m_failed = true;  // corrupt data ends the entry here
                return 0;
            }
            m_lastOutput = m_capacity - m_stream.avail_out;
            m_produced += m_lastOutput;
            if (m_lastResult == BZ_STREAM_END) {
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
        m_stream.next_in = reinterpret_cast<char*>(m_input.data());
        m_stream.avail_in = static_cast<unsigned int>(m_lastInput);
    }

    void GiveBackUnusedInput() {
        if (m_stream.avail_in == 0) return;
        m_source->clear();
        m_source->seekg(-static_cast<std::streamoff>(m_stream.avail_in), std::ios::cur);
        m_stream.avail_in = 0;
    }

    void EndStream() {
        if (m_initialised) BZ2_bzDecompressEnd(&m_stream);
        m_initialised = false;
        m_failed = false;
    }

    bz_stream m_stream{};
    source_type* m_source = nullptr;
    bool m_inputEnded = false;
    std::size_t m_capacity = 0;
    std::vector<CharT> m_input;
    std::vector<CharT> m_output;
    std::size_t m_lastInput = 0;
    std::size_t m_lastOutput = 0;
    std::uint64_t m_consumed = 0;
    std::uint64_t m_produced = 0;
    int m_lastResult = BZ_OK;
    bool m_initialised = false;
    bool m_failed = false;
};

using bzip2_decoder = basic_bzip2_decoder<char>;
