#pragma once
// Method 0: the data is stored as it is; the decoder only copies blocks.

#include <vector>

#include "zip/compression_interface.h"

struct store_decoder_properties : decoder_properties_basic {};

template <typename CharT, typename Traits = std::char_traits<CharT>>
class basic_store_decoder final : public compression_decoder_interface<CharT, Traits> {
public:
    using source_type = typename compression_decoder_interface<CharT, Traits>::source_type;

    bool is_ready() const override { return !m_buffer.empty(); }
    std::uint64_t bytes_consumed() const override { return m_consumed; }
    std::uint64_t bytes_produced() const override { return m_produced; }
    CharT* output_begin() override { return m_buffer.data(); }
    CharT* output_end() override { return m_buffer.data() + m_lastCount; }

    void attach(source_type& source, const decoder_properties_basic& properties) override {
        m_source = &source;
        m_capacity = EffectiveCapacity(properties);
        m_buffer.assign(m_capacity, CharT());
        m_lastCount = 0;
        m_consumed = m_produced = 0;
    }
    void attach(source_type& source) override { attach(source, store_decoder_properties{}); }

    std::size_t decode_step() override {
        m_lastCount = m_source ? ReadBlock(*m_source, m_buffer.data(), m_capacity) : 0;
        m_consumed += m_lastCount;
        m_produced += m_lastCount;
        return m_lastCount;
    }

private:
    source_type* m_source = nullptr;
    std::size_t m_capacity = 0;
    std::vector<CharT> m_buffer;
    std::size_t m_lastCount = 0;
    std::uint64_t m_consumed = 0;
    std::uint64_t m_produced = 0;
};

using store_decoder = basic_store_decoder<char>;
