#pragma once
// Method 14: LZMA (APPNOTE 5.8.8) over the LZMA SDK's decoder. The entry's data opens with a
// 9-byte header: SDK version (2 bytes), size of the properties (2 bytes, 5), then the properties
// byte and the 32-bit dictionary size.

#include <LzmaDec.h>

#include <cstdlib>
#include <vector>

#include "zip/compression_interface.h"

struct lzma_decoder_properties : decoder_properties_basic {};

namespace lzma_detail {

// Dictionaries above this size are refused like a failed allocation (the entry then delivers
// nothing): a damaged or hostile header can name up to 4 GiB, while real writers use at most a
// few hundred MiB even at their strongest settings.
constexpr std::size_t kLargestAllocation = std::size_t(1) << 29;

inline void* Allocate(void*, size_t size) { return size <= kLargestAllocation ? std::malloc(size) : nullptr; }
inline void Free(void*, void* address) { std::free(address); }
inline ISzAlloc* Allocator() {
    static ISzAlloc allocator = {Allocate, Free};
    return &allocator;
}

}  // namespace lzma_detail

template <typename CharT, typename Traits = std::char_traits<CharT>>
class basic_lzma_decoder final : public compression_decoder_interface<CharT, Traits> {
public:
    using source_type = typename compression_decoder_interface<CharT, Traits>::source_type;
    static constexpr std::size_t kHeaderSize = 4 + LZMA_PROPS_SIZE;

    basic_lzma_decoder() { LzmaDec_Construct(&m_state); }
    basic_lzma_decoder(const basic_lzma_decoder&) = delete;
    basic_lzma_decoder& operator=(const basic_lzma_decoder&) = delete;
    ~basic_lzma_decoder() override { LzmaDec_Free(&m_state, lzma_detail::Allocator()); }

    bool is_ready() const override { return !m_output.empty(); }
    std::uint64_t bytes_consumed() const override { return m_consumed; }
    std::uint64_t bytes_produced() const override { return m_produced; }
    CharT* output_begin() override { return m_output.data(); }
    CharT* output_end() override { return m_output.data() + m_lastCount; }

    void attach(source_type& source, const decoder_properties_basic& properties) override {
        m_source = &source;
        m_consumed = m_produced = 0;
        m_lastCount = 0;
        m_capacity = EffectiveCapacity(properties);
        m_input.assign(m_capacity, CharT());
        m_output.assign(m_capacity, CharT());
        m_available = m_used = 0;
        m_sourceEnded = false;
        m_failed = false;
        m_hasModel = ReadHeaderAndAllocate();
    }
    void attach(source_type& source) override { attach(source, lzma_decoder_properties{}); }

    std::size_t decode_step() override {
        if (!m_hasModel || m_failed) return 0;
        std::size_t total = 0;
        do {
            if (m_used == m_available && !m_sourceEnded) ReadInput();
            total = DecodeIntoOutput();
        } while (total == 0 && !m_failed && m_used == m_available && !m_sourceEnded);
        m_lastCount = total;
        m_produced += total;
        return total;
    }

private:
    bool ReadHeaderAndAllocate() {
        unsigned char header[kHeaderSize] = {};
        m_source->read(reinterpret_cast<CharT*>(header), kHeaderSize);
        if (static_cast<std::size_t>(m_source->gcount()) != kHeaderSize) return false;
        m_consumed += kHeaderSize;
        if (LzmaDec_Allocate(&m_state, header + 4, LZMA_PROPS_SIZE, lzma_detail::Allocator()) != SZ_OK) return false;
        LzmaDec_Init(&m_state);
        return true;
    }

    void ReadInput() {
        m_available = ReadBlock(*m_source, m_input.data(), m_capacity);
        m_used = 0;
        m_consumed += m_available;
        if (m_available == 0) m_sourceEnded = true;
    }

    // Decodes into the dictionary (used as a ring) and copies what appeared there into the
    // output buffer, until the buffer is full, the input is used up, or the data ends. The
    // output limit must not be taken for the end of the data, so the SDK is asked to stop
    // anywhere (LZMA_FINISH_ANY): with LZMA_FINISH_END a limit reached inside a match or before
    // an end marker counts as a data error.
    std::size_t DecodeIntoOutput() {
        std::size_t remaining = m_capacity;
        CharT* write = m_output.data();
        std::size_t total = 0;
        for (;;) {
            if (m_state.dicPos == m_state.dicBufSize) m_state.dicPos = 0;
            const SizeT start = m_state.dicPos;
            const SizeT limit = std::min<SizeT>(m_state.dicBufSize, start + remaining);
            SizeT inputSize = m_available - m_used;
            ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
            const SRes result =
                LzmaDec_DecodeToDic(&m_state, limit, reinterpret_cast<const Byte*>(m_input.data()) + m_used, &inputSize,
                                    LZMA_FINISH_ANY, &status);
            m_used += inputSize;
            const std::size_t produced = m_state.dicPos - start;
            std::copy(m_state.dic + start, m_state.dic + start + produced, reinterpret_cast<Byte*>(write));
            write += produced;
            total += produced;
            if (result != SZ_OK) m_failed = true;
            if (m_failed || produced == 0 || produced == remaining) break;
            remaining -= produced;
        }
        return total;
    }

    CLzmaDec m_state{};
    source_type* m_source = nullptr;
    std::size_t m_capacity = 0;
    std::vector<CharT> m_input;
    std::vector<CharT> m_output;
    std::size_t m_available = 0;
    std::size_t m_used = 0;
    bool m_sourceEnded = false;
    bool m_hasModel = false;
    bool m_failed = false;
    std::uint64_t m_consumed = 0;
    std::uint64_t m_produced = 0;
    std::size_t m_lastCount = 0;
};

using lzma_decoder = basic_lzma_decoder<char>;
