#include "zip/bzip2_blocks.h"

#include <algorithm>

namespace {

constexpr std::uint64_t kBlockMagic = 0x314159265359ull;
constexpr std::uint64_t kEndMagic = 0x177245385090ull;
constexpr std::uint64_t kMagicMask = (std::uint64_t(1) << 48) - 1;
constexpr std::uint64_t kHeaderBits = 32;  // "BZh" and the level digit

// For a magic starting at bit s (0..7) of byte j, byte j + 1 holds magic bits 8-s..15-s; only
// bytes that can be such a byte need the full test.
struct MagicFilter {
    bool candidate[256] = {};
    MagicFilter() {
        for (std::uint64_t magic : {kBlockMagic, kEndMagic})
            for (int s = 0; s < 8; ++s) candidate[(magic >> (32 + s)) & 0xFF] = true;
    }
};

std::uint64_t BitsAt(const std::string& data, std::uint64_t bit, int count) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i, ++bit) {
        const auto byte = static_cast<unsigned char>(data[static_cast<std::size_t>(bit / 8)]);
        value = (value << 1) | ((byte >> (7 - bit % 8)) & 1u);
    }
    return value;
}

class BitWriter {
public:
    explicit BitWriter(std::string& out) : m_out(out) {}
    void Put(std::uint64_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            m_byte = static_cast<unsigned char>((static_cast<unsigned>(m_byte) << 1) | ((value >> i) & 1u));
            if (++m_bits == 8) Flush();
        }
    }
    void Pad() {
        if (m_bits > 0) Put(0, 8 - m_bits);
    }

private:
    void Flush() {
        m_out += static_cast<char>(m_byte);
        m_byte = 0;
        m_bits = 0;
    }
    std::string& m_out;
    unsigned char m_byte = 0;
    int m_bits = 0;
};

}  // namespace

void Bzip2BlockSplitter::ParseHeader() {
    if (m_headerParsed || m_ended) return;
    if (m_data.size() < 10) {  // "BZh", the level and the first magic
        if (m_inputEnded) m_ended = true;
        return;
    }
    m_headerParsed = true;
    if (m_data.compare(0, 3, "BZh") != 0 || m_data[3] < '1' || m_data[3] > '9') {
        m_ended = true;
        return;
    }
    m_level = m_data[3];
    m_blockStart = kHeaderBits;
    m_scannedBytes = 4;
    // An end marker right after the header is an empty stream; anything else but a block is damage.
    if (BitsAt(m_data, kHeaderBits, 48) != kBlockMagic) m_ended = true;
}

std::size_t Bzip2BlockSplitter::LongestBlockBytes() const {
    // Above what a block of the stream's size can compress to, even coded at the longest codes
    // (20 bits for each of at most level x 100,000 + 1 symbols), with the coding tables.
    return static_cast<std::size_t>(m_level - '0') * 300000 + 4096;
}

void Bzip2BlockSplitter::Scan() {
    static const MagicFilter filter;
    // A magic starting in byte j ends in byte j + 6 at the latest.
    while (m_scannedBytes + 7 <= m_data.size()) {
        const std::size_t j = m_scannedBytes++;
        if (!filter.candidate[static_cast<unsigned char>(m_data[j + 1])]) continue;
        std::uint64_t window = 0;
        for (std::size_t k = 0; k < 8; ++k)
            window = (window << 8) | (j + k < m_data.size() ? static_cast<unsigned char>(m_data[j + k]) : 0u);
        for (int s = 0; s < 8; ++s) {
            const std::uint64_t bit = std::uint64_t(j) * 8 + static_cast<std::uint64_t>(s);
            if (bit <= m_blockStart || (bit + 48 + 7) / 8 > m_data.size()) continue;
            const std::uint64_t value = (window >> (16 - s)) & kMagicMask;
            if (value == kBlockMagic || value == kEndMagic) m_boundaries.push_back({bit, value == kEndMagic});
        }
    }
}

Bzip2BlockSplitter::Next Bzip2BlockSplitter::Status() {
    ParseHeader();
    if (m_ended) return Next::End;
    if (!m_headerParsed) return Next::NeedInput;
    Scan();
    if (m_taken > 0 && m_boundaries[m_taken - 1].streamEnd) return Next::End;
    if (m_boundaries.size() > m_taken) return Next::Ready;
    const std::uint64_t from = m_taken == 0 ? m_blockStart : m_boundaries[m_taken - 1].bit;
    const std::uint64_t pendingBytes = m_data.size() - from / 8;
    if (m_inputEnded || pendingBytes > LongestBlockBytes()) return Next::Blocked;  // no block ends in sight
    return Next::NeedInput;
}

std::string Bzip2BlockSplitter::Take() {
    const std::uint64_t from = m_taken == 0 ? m_blockStart : m_boundaries[m_taken - 1].bit;
    const std::uint64_t to = m_boundaries[m_taken].bit;
    ++m_taken;
    return BlockStream(from, to);
}

void Bzip2BlockSplitter::OldestDecoded() {
    if (m_taken == 0 || m_boundaries.empty()) return;
    const Boundary end = m_boundaries.front();
    m_boundaries.erase(m_boundaries.begin());
    --m_taken;
    m_retries = 0;
    m_blockStart = end.bit;
    if (end.streamEnd) m_ended = true;
    Compact(m_blockStart);
}

bool Bzip2BlockSplitter::OldestFailed() {
    m_taken = 0;
    if (!m_boundaries.empty()) m_boundaries.erase(m_boundaries.begin());
    return ++m_retries <= kMostRetries;
}

std::string Bzip2BlockSplitter::FallbackBytes() {
    std::string out;
    if (!m_fallback) {
        m_fallback = true;
        m_fallbackBit = m_blockStart;
        m_boundaries.clear();
        m_taken = 0;
        if (m_level == 0) return out;
        out = std::string("BZh") + m_level;
    }
    if (m_level == 0) return out;
    const std::uint64_t endBit = std::uint64_t(m_data.size()) * 8;
    if (endBit <= m_fallbackBit) return out;
    const std::uint64_t wholeBits = (endBit - m_fallbackBit) / 8 * 8;
    out += ShiftedBytes(m_fallbackBit, m_fallbackBit + wholeBits);
    m_fallbackBit += wholeBits;
    if (m_inputEnded && m_fallbackBit < endBit) {
        BitWriter tail(out);
        const int rest = static_cast<int>(endBit - m_fallbackBit);
        tail.Put(BitsAt(m_data, m_fallbackBit, rest), rest);
        tail.Pad();
        m_fallbackBit = endBit;
    }
    Compact(m_fallbackBit);
    return out;
}

void Bzip2BlockSplitter::Compact(std::uint64_t keepFromBit) {
    const std::size_t drop = static_cast<std::size_t>(keepFromBit / 8);
    if (drop < (std::size_t(1) << 20)) return;
    m_data.erase(0, drop);
    const std::uint64_t bits = std::uint64_t(drop) * 8;
    m_blockStart -= std::min(m_blockStart, bits);
    m_fallbackBit -= std::min(m_fallbackBit, bits);
    m_scannedBytes -= std::min(m_scannedBytes, drop);
    for (Boundary& boundary : m_boundaries) boundary.bit -= bits;
}

// Bits [from, to) as whole bytes, shifted so that bit |from| becomes the first bit of a byte;
// |to - from| must be a multiple of 8.
std::string Bzip2BlockSplitter::ShiftedBytes(std::uint64_t from, std::uint64_t to) const {
    const std::size_t first = static_cast<std::size_t>(from / 8);
    const unsigned shift = static_cast<unsigned>(from % 8);
    const std::size_t count = static_cast<std::size_t>((to - from) / 8);
    if (shift == 0) return m_data.substr(first, count);
    std::string out(count, '\0');
    const auto* in = reinterpret_cast<const unsigned char*>(m_data.data()) + first;
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<char>(((in[i] << shift) | (in[i + 1] >> (8 - shift))) & 0xFF);
    return out;
}

std::string Bzip2BlockSplitter::BlockStream(std::uint64_t from, std::uint64_t to) const {
    const std::uint64_t wholeBits = (to - from) / 8 * 8;
    std::string stream = std::string("BZh") + m_level;
    stream.reserve(stream.size() + static_cast<std::size_t>(wholeBits / 8) + 16);
    stream += ShiftedBytes(from, from + wholeBits);
    BitWriter tail(stream);
    const int rest = static_cast<int>((to - from) % 8);
    if (rest > 0) tail.Put(BitsAt(m_data, from + wholeBits, rest), rest);
    tail.Put(kEndMagic, 48);
    tail.Put(BitsAt(m_data, from + 48, 32), 32);  // the stream CRC of one block is its block CRC
    tail.Pad();
    return stream;
}
