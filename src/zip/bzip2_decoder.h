#pragma once
// Method 12: bzip2 over libbzip2. The stream is split at its block boundaries and up to one block
// per processor core (at most four) is decoded at once, each as a stream of its own that
// libbzip2 checks by its CRC; the blocks are then handed out in order, one buffer at a time.

#include <algorithm>
#include <array>
#include <thread>
#include <vector>

#include "zip/bzip2_blocks.h"
#include "zip/compression_interface.h"

struct bzip2_decoder_properties : decoder_properties_basic {};

template <typename CharT, typename Traits = std::char_traits<CharT>>
class basic_bzip2_decoder final : public compression_decoder_interface<CharT, Traits> {
public:
    using source_type = typename compression_decoder_interface<CharT, Traits>::source_type;
    static constexpr std::size_t kMostParallelBlocks = 4;

    bool is_ready() const override { return !m_output.empty(); }
    std::uint64_t bytes_consumed() const override { return m_consumed; }
    std::uint64_t bytes_produced() const override { return m_produced; }
    CharT* output_begin() override { return m_output.data(); }
    CharT* output_end() override { return m_output.data() + m_lastOutput; }

    void attach(source_type& source, const decoder_properties_basic& properties) override {
        m_source = &source;
        m_consumed = m_produced = 0;
        m_lastOutput = 0;
        m_capacity = EffectiveCapacity(properties);
        m_input.assign(m_capacity, CharT());
        m_output.assign(m_capacity, CharT());
        m_splitter = Bzip2BlockSplitter{};
        m_decodedCount = m_current = m_handedOut = 0;
        const unsigned cores = std::thread::hardware_concurrency();
        m_parallel = std::clamp<std::size_t>(cores == 0 ? 1 : cores, 1, kMostParallelBlocks);
    }
    void attach(source_type& source) override { attach(source, bzip2_decoder_properties{}); }

    std::size_t decode_step() override {
        if (!m_source) return 0;
        while (m_current < m_decodedCount || DecodeNextBlocks()) {
            const std::string& block = m_decoded[m_current];
            if (m_handedOut < block.size()) {
                m_lastOutput = std::min(m_capacity, block.size() - m_handedOut);
                std::copy(block.data() + m_handedOut, block.data() + m_handedOut + m_lastOutput, m_output.data());
                m_handedOut += m_lastOutput;
                m_produced += m_lastOutput;
                return m_lastOutput;
            }
            ++m_current;
            m_handedOut = 0;
        }
        m_lastOutput = 0;
        return 0;
    }

private:
    // Decodes the next blocks; false when the data has ended (or is damaged past repair).
    bool DecodeNextBlocks() {
        while (m_splitter.MoreBlocks()) {
            while (!m_splitter.HasBlocks(m_parallel)) ReadInput();
            const std::vector<std::string> blocks = m_splitter.NextBlocks(m_parallel);
            if (blocks.empty()) continue;
            std::array<bool, kMostParallelBlocks> decoded{};
            std::vector<std::thread> helpers;
            for (std::size_t i = 1; i < blocks.size(); ++i)
                helpers.emplace_back([&, i] { decoded[i] = DecodeBlockStream(blocks[i], m_decoded[i], m_caches[i]); });
            decoded[0] = DecodeBlockStream(blocks[0], m_decoded[0], m_caches[0]);
            for (auto& helper : helpers) helper.join();
            std::size_t good = 0;
            while (good < blocks.size() && decoded[good]) ++good;
            m_splitter.Confirm(blocks.size(), good);
            if (good > 0) {
                m_decodedCount = good;
                m_current = 0;
                m_handedOut = 0;
                return true;
            }
        }
        return false;
    }

    void ReadInput() {
        const std::size_t count = ReadBlock(*m_source, m_input.data(), m_capacity);
        m_consumed += count;
        m_splitter.Append(reinterpret_cast<const char*>(m_input.data()), count);
        if (count < m_capacity) m_splitter.EndInput();
    }

    source_type* m_source = nullptr;
    std::size_t m_capacity = 0;
    std::vector<CharT> m_input;
    std::vector<CharT> m_output;
    std::size_t m_lastOutput = 0;
    std::uint64_t m_consumed = 0;
    std::uint64_t m_produced = 0;
    std::size_t m_parallel = 1;
    Bzip2BlockSplitter m_splitter;
    std::array<std::string, kMostParallelBlocks> m_decoded;
    std::array<Bzip2AllocationCache, kMostParallelBlocks> m_caches;
    std::size_t m_decodedCount = 0;
    std::size_t m_current = 0;
    std::size_t m_handedOut = 0;
};

using bzip2_decoder = basic_bzip2_decoder<char>;
