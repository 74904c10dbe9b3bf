#pragma once
// A bzip2 stream split at its block boundaries, so that two blocks can be decoded at once.
//
// Every block of a bzip2 stream starts with the 48-bit magic 0x314159265359 and the stream ends
// with 0x177245385090 and the combined CRC, at arbitrary bit positions. One block followed by an
// end marker carrying that block's CRC is a complete stream of its own, which libbzip2 decodes
// and checks (block CRC and stream CRC). The magic can also occur by chance inside compressed
// data; such a false boundary makes the block before it fail to decode, and the boundary is then
// dropped and the block retried up to the next one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class Bzip2BlockSplitter {
public:
    // Adds compressed bytes read from the source.
    void Append(const char* bytes, std::size_t count);
    // Marks the end of the source: no more bytes will come.
    void EndInput() { m_inputEnded = true; }
    bool InputEnded() const { return m_inputEnded; }

    // True while another block may still come; false after the end marker, a damaged header, or
    // damage no boundary can explain.
    bool MoreBlocks() const { return !m_finished; }
    // True when NextBlocks can hand out |wanted| blocks, or all that remain, without more input.
    bool HasBlocks(std::size_t wanted);
    // Up to |wanted| complete single-block streams, in order (fewer at the end of the data).
    std::vector<std::string> NextBlocks(std::size_t wanted);
    // The first |decoded| of the blocks last handed out decoded; a failure of the one after them
    // drops its end boundary (if another follows), or ends the data when none can.
    void Confirm(std::size_t handedOut, std::size_t decoded);

private:
    struct Boundary {
        std::uint64_t bit;
        bool streamEnd;
    };

    void ParseHeader();
    void Scan();
    void Compact();
    std::string BlockStream(std::uint64_t from, std::uint64_t to) const;
    std::size_t LongestBlockBytes() const;
    std::size_t PendingBytes() const { return m_data.size() - static_cast<std::size_t>(m_blockStart / 8); }

    std::string m_data;                 // compressed bytes from the start of the current block's byte
    std::vector<Boundary> m_boundaries; // boundaries after the current block's start, in order
    std::uint64_t m_blockStart = 0;     // bit position of the current block's magic
    std::size_t m_scannedBytes = 0;     // byte positions below this have been searched
    char m_level = 0;                   // '1'..'9' from the stream header
    bool m_headerParsed = false;
    bool m_inputEnded = false;
    bool m_finished = false;
    std::vector<std::uint64_t> m_handedOutEnds;
};

// Decodes one single-block stream into |out| (replacing its contents); false on any error.
// |cache| keeps libbzip2's large work arrays between calls of one thread.
struct Bzip2AllocationCache;
bool DecodeBlockStream(const std::string& stream, std::string& out, Bzip2AllocationCache& cache);

struct Bzip2AllocationCache {
    Bzip2AllocationCache() = default;
    Bzip2AllocationCache(const Bzip2AllocationCache&) = delete;
    Bzip2AllocationCache& operator=(const Bzip2AllocationCache&) = delete;
    ~Bzip2AllocationCache();

    struct Block {
        void* address;
        std::size_t size;
    };
    std::vector<Block> free;
};
