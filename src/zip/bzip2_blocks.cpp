#include "zip/bzip2_blocks.h"

#include <bzlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

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

void* CachedAllocate(void* opaque, int items, int size) {
    auto& cache = *static_cast<Bzip2AllocationCache*>(opaque);
    const std::size_t bytes = static_cast<std::size_t>(items) * static_cast<std::size_t>(size);
    for (auto it = cache.free.begin(); it != cache.free.end(); ++it) {
        if (it->size != bytes) continue;
        void* address = it->address;
        cache.free.erase(it);
        return address;
    }
    return std::malloc(bytes);
}

// libbzip2 frees without a size; the cache learns it from a side table of live blocks.
struct LiveBlocks {
    std::vector<Bzip2AllocationCache::Block> blocks;
};

}  // namespace

Bzip2AllocationCache::~Bzip2AllocationCache() {
    for (const Block& block : free) std::free(block.address);
}

void Bzip2BlockSplitter::Append(const char* bytes, std::size_t count) { m_data.append(bytes, count); }

void Bzip2BlockSplitter::ParseHeader() {
    if (m_headerParsed || m_finished) return;
    if (m_data.size() < 10) {  // "BZh", the level and the first magic
        if (m_inputEnded) m_finished = true;
        return;
    }
    m_headerParsed = true;
    if (m_data.compare(0, 3, "BZh") != 0 || m_data[3] < '1' || m_data[3] > '9') {
        m_finished = true;
        return;
    }
    m_level = m_data[3];
    m_blockStart = kHeaderBits;
    m_scannedBytes = 4;
    // An end marker right after the header is an empty stream; anything else but a block is damage.
    if (BitsAt(m_data, kHeaderBits, 48) != kBlockMagic) m_finished = true;
}

std::size_t Bzip2BlockSplitter::LongestBlockBytes() const {
    // Far above what a block of the stream's size can compress to, even coded at the longest codes.
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

bool Bzip2BlockSplitter::HasBlocks(std::size_t wanted) {
    ParseHeader();
    if (m_headerParsed && !m_finished) Scan();
    if (m_finished || m_inputEnded) return true;
    if (!m_headerParsed) return false;
    std::size_t complete = 0;
    for (const Boundary& boundary : m_boundaries) {
        ++complete;
        if (boundary.streamEnd || complete >= wanted) return true;
    }
    if (complete == 0 && PendingBytes() > LongestBlockBytes()) m_finished = true;  // no block is this long
    // Blocks are found, and so much follows them that waiting for more is pointless.
    return m_finished || PendingBytes() > LongestBlockBytes() * (complete + 1);
}

std::vector<std::string> Bzip2BlockSplitter::NextBlocks(std::size_t wanted) {
    std::vector<std::string> blocks;
    m_handedOutEnds.clear();
    if (m_finished || !m_headerParsed) return blocks;
    Compact();
    std::uint64_t from = m_blockStart;
    for (const Boundary& boundary : m_boundaries) {
        if (blocks.size() == wanted) break;
        blocks.push_back(BlockStream(from, boundary.bit));
        m_handedOutEnds.push_back(boundary.bit);
        if (boundary.streamEnd) break;
        from = boundary.bit;
    }
    if (blocks.empty() && m_inputEnded) m_finished = true;  // no end marker and no boundary left
    return blocks;
}

void Bzip2BlockSplitter::Confirm(std::size_t handedOut, std::size_t decoded) {
    for (std::size_t i = 0; i < decoded; ++i) {
        const bool end = m_boundaries.front().streamEnd;
        m_blockStart = m_boundaries.front().bit;
        m_boundaries.erase(m_boundaries.begin());
        if (end) m_finished = true;
    }
    if (decoded == handedOut || m_finished) return;
    // The block after the decoded ones failed: its end was a false boundary, or the data is
    // damaged. Drop that boundary and retry up to the next one, unless no block can be that
    // long or nothing can follow.
    if (!m_boundaries.empty()) m_boundaries.erase(m_boundaries.begin());
    const std::uint64_t nextEnd = m_boundaries.empty() ? std::uint64_t(m_data.size()) * 8 : m_boundaries.front().bit;
    if ((m_boundaries.empty() && m_inputEnded) || (nextEnd - m_blockStart) / 8 > LongestBlockBytes()) m_finished = true;
}

void Bzip2BlockSplitter::Compact() {
    const std::size_t drop = static_cast<std::size_t>(m_blockStart / 8);
    if (drop < (std::size_t(1) << 20)) return;
    m_data.erase(0, drop);
    const std::uint64_t bits = std::uint64_t(drop) * 8;
    m_blockStart -= bits;
    m_scannedBytes -= drop;
    for (Boundary& boundary : m_boundaries) boundary.bit -= bits;
}

std::string Bzip2BlockSplitter::BlockStream(std::uint64_t from, std::uint64_t to) const {
    std::string stream = std::string("BZh") + m_level;
    const std::uint64_t bits = to - from;
    const std::size_t first = static_cast<std::size_t>(from / 8);
    const unsigned shift = static_cast<unsigned>(from % 8);
    const std::size_t wholeBytes = static_cast<std::size_t>(bits / 8);
    stream.reserve(stream.size() + wholeBytes + 16);
    if (shift == 0) {
        stream.append(m_data, first, wholeBytes);
    } else {
        for (std::size_t i = 0; i < wholeBytes; ++i) {
            const auto high = static_cast<unsigned char>(m_data[first + i]);
            const auto low = static_cast<unsigned char>(m_data[first + i + 1]);
            stream += static_cast<char>(((high << shift) | (low >> (8 - shift))) & 0xFF);
        }
    }
    BitWriter tail(stream);
    const int rest = static_cast<int>(bits % 8);
    if (rest > 0) tail.Put(BitsAt(m_data, from + wholeBytes * 8, rest), rest);
    tail.Put(kEndMagic, 48);
    tail.Put(BitsAt(m_data, from + 48, 32), 32);  // the stream CRC of one block is its block CRC
    tail.Pad();
    return stream;
}

namespace {

struct CacheWithSizes {
    Bzip2AllocationCache* cache;
    LiveBlocks live;
};

void* Allocate(void* opaque, int items, int size) {
    auto& state = *static_cast<CacheWithSizes*>(opaque);
    void* address = CachedAllocate(state.cache, items, size);
    if (address) state.live.blocks.push_back({address, static_cast<std::size_t>(items) * static_cast<std::size_t>(size)});
    return address;
}

void Release(void* opaque, void* address) {
    if (!address) return;
    auto& state = *static_cast<CacheWithSizes*>(opaque);
    auto& blocks = state.live.blocks;
    const auto it = std::find_if(blocks.begin(), blocks.end(), [&](const auto& b) { return b.address == address; });
    if (it == blocks.end()) return;
    state.cache->free.push_back(*it);
    blocks.erase(it);
}

}  // namespace

bool DecodeBlockStream(const std::string& stream, std::string& out, Bzip2AllocationCache& cache) {
    CacheWithSizes state{&cache, {}};
    bz_stream bz{};
    bz.bzalloc = Allocate;
    bz.bzfree = Release;
    bz.opaque = &state;
    if (BZ2_bzDecompressInit(&bz, 0, 0) != BZ_OK) return false;
    bz.next_in = const_cast<char*>(stream.data());
    bz.avail_in = static_cast<unsigned int>(stream.size());
    out.resize(std::max<std::size_t>(out.capacity(), std::size_t(1) << 20));
    std::size_t produced = 0;
    int result = BZ_OK;
    while (result == BZ_OK) {
        if (produced == out.size()) out.resize(out.size() * 2);
        bz.next_out = out.data() + produced;
        bz.avail_out = static_cast<unsigned int>(std::min<std::size_t>(out.size() - produced, 1u << 30));
        const unsigned int before = bz.avail_out;
        const unsigned int inputBefore = bz.avail_in;
        result = BZ2_bzDecompress(&bz);
        produced += before - bz.avail_out;
        if (result == BZ_OK && bz.avail_out == before && bz.avail_in == inputBefore) result = BZ_UNEXPECTED_EOF;
    }
    BZ2_bzDecompressEnd(&bz);
    out.resize(produced);
    return result == BZ_STREAM_END;
}
