#pragma once
// A bzip2 stream split at its block boundaries, so that several blocks can be decoded at once.
//
// Every block of a bzip2 stream starts with the 48-bit magic 0x314159265359 and the stream ends
// with 0x177245385090 and the combined CRC, at arbitrary bit positions. One block followed by an
// end marker carrying that block's CRC is a complete stream of its own, which libbzip2 decodes
// and checks (block CRC and stream CRC). The magic can also occur by chance inside compressed
// data; such a false boundary makes the block before it fail to decode. The boundary is then
// dropped and the block retried up to the next one, a bounded number of times; after that the
// caller decodes the rest as one stream (FallbackBytes), which costs no retries at all.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class Bzip2BlockSplitter {
public:
    // Failed attempts at one block before the caller must decode sequentially.
    static constexpr int kMostRetries = 2;

    enum class Next {
        Ready,      // Take() gives the next block
        NeedInput,  // Append more (or EndInput)
        End,        // the stream has ended (end marker decoded, empty stream, or no stream at all)
        Blocked,    // no further block can be cut out: decode the rest sequentially
    };

    // Adds compressed bytes read from the source.
    void Append(const char* bytes, std::size_t count) { m_data.append(bytes, count); }
    // Marks the end of the source: no more bytes will come.
    void EndInput() { m_inputEnded = true; }

    // Whether the block after those already taken can be handed out.
    Next Status();
    // The next block as a single-block stream; call only after Status() gave Ready.
    std::string Take();
    // The oldest taken block decoded: the next one becomes the oldest.
    void OldestDecoded();
    // The oldest taken block failed. Every taken block is given back; its end boundary is
    // dropped so that the next Take() tries it up to the boundary after. False when it has been
    // tried too often: the rest must be decoded sequentially.
    bool OldestFailed();

    // Sequential decoding: from the oldest block on, the bits as one byte-aligned stream (with
    // a stream header first). Each call gives what has been appended since, whole bytes only
    // until the input has ended. Its combined CRC covers only these blocks, so the stream's own
    // end check may fail after the last byte; the entry's CRC-32 is the check that counts.
    std::string FallbackBytes();

private:
    struct Boundary {
        std::uint64_t bit;
        bool streamEnd;
    };

    void ParseHeader();
    void Scan();
    void Compact(std::uint64_t keepFromBit);
    std::string BlockStream(std::uint64_t from, std::uint64_t to) const;
    std::string ShiftedBytes(std::uint64_t from, std::uint64_t to) const;
    std::size_t LongestBlockBytes() const;

    std::string m_data;                  // compressed bytes from the oldest block's first byte
    std::vector<Boundary> m_boundaries;  // boundaries after the oldest block's start, in order
    std::uint64_t m_blockStart = 0;      // bit position of the oldest block's magic
    std::size_t m_scannedBytes = 0;      // byte positions below this have been searched
    std::size_t m_taken = 0;             // blocks handed out and not yet decoded
    int m_retries = 0;                   // failures of the oldest block
    char m_level = 0;                    // '1'..'9' from the stream header
    bool m_headerParsed = false;
    bool m_inputEnded = false;
    bool m_ended = false;             // end marker reached, or no stream
    std::uint64_t m_fallbackBit = 0;  // next bit FallbackBytes hands out
    bool m_fallback = false;
};
