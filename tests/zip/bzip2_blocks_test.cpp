// Cutting a bzip2 stream into single-block streams that decode on their own, and the
// sequential decoding that takes over when a block cannot be cut out.

#include <bzlib.h>
#include <gtest/gtest.h>

#include "support/zip_builder.h"
#include "zip/bzip2_blocks.h"

namespace {

using Next = Bzip2BlockSplitter::Next;

bool DecodeBlock(const std::string& stream, std::string& out) {
    out.assign(2'000'000, '\0');
    auto size = static_cast<unsigned int>(out.size());
    const int result = BZ2_bzBuffToBuffDecompress(out.data(), &size, const_cast<char*>(stream.data()),
                                                  static_cast<unsigned int>(stream.size()), 0, 0);
    out.resize(size);
    return result == BZ_OK;
}

// Everything a stream of fallback bytes decodes to, up to its first error.
std::string DecodeSequentially(const std::string& stream) {
    bz_stream codec{};
    BZ2_bzDecompressInit(&codec, 0, 0);
    std::string all;
    std::string buffer(65536, '\0');
    codec.next_in = const_cast<char*>(stream.data());
    codec.avail_in = static_cast<unsigned int>(stream.size());
    for (int result = BZ_OK; result == BZ_OK;) {
        codec.next_out = buffer.data();
        codec.avail_out = static_cast<unsigned int>(buffer.size());
        result = BZ2_bzDecompress(&codec);
        const std::size_t produced = buffer.size() - codec.avail_out;
        all.append(buffer.data(), produced);
        if (result == BZ_OK && produced == 0 && codec.avail_in == 0) break;
    }
    BZ2_bzDecompressEnd(&codec);
    return all;
}

struct SplitRun {
    std::string data;
    std::size_t blocks = 0;  // decoded as blocks of their own
    bool fellBack = false;   // the rest was decoded sequentially
};

// Feeds |stream| in 32 KiB pieces, keeps up to |inFlight| blocks taken, and decodes the oldest;
// |refuse| blocks (by position) are treated as failures, as a false boundary would make them.
SplitRun Split(const std::string& stream, std::size_t inFlight, int refuse = 0) {
    Bzip2BlockSplitter splitter;
    SplitRun run;
    std::size_t fed = 0;
    const auto feed = [&] {
        const std::size_t count = std::min<std::size_t>(32768, stream.size() - fed);
        splitter.Append(stream.data() + fed, count);
        fed += count;
        if (count < 32768) splitter.EndInput();
    };
    // The rest, from the oldest block on, as one stream.
    const auto decodeRest = [&] {
        while (splitter.Status() == Next::NeedInput) feed();
        std::string rest = splitter.FallbackBytes();
        while (fed < stream.size()) {
            feed();
            rest += splitter.FallbackBytes();
        }
        run.data += DecodeSequentially(rest);
        run.fellBack = true;
    };
    std::vector<std::string> taken;
    for (int guard = 0; guard < 100000; ++guard) {
        Next next = splitter.Status();
        while (next == Next::NeedInput || (next == Next::Ready && taken.size() < inFlight)) {
            if (next == Next::NeedInput)
                feed();
            else
                taken.push_back(splitter.Take());
            next = splitter.Status();
        }
        if (taken.empty()) {
            if (next == Next::Blocked) decodeRest();
            return run;
        }
        std::string out;
        if (refuse > 0 || !DecodeBlock(taken.front(), out)) {
            --refuse;
            taken.clear();
            if (!splitter.OldestFailed()) {
                decodeRest();
                return run;
            }
            continue;
        }
        run.data += out;
        ++run.blocks;
        taken.erase(taken.begin());
        splitter.OldestDecoded();
    }
    ADD_FAILURE() << "the splitter did not come to an end";
    return run;
}

TEST(Bzip2Blocks, EveryBlockDecodesAsAStreamOfItsOwn) {
    const std::string plain = SampleText(500000) + NoiseBytes(300000, 9) + SampleText(900000);
    for (int level : {1, 9}) {
        for (std::size_t inFlight : {1u, 2u, 5u}) {
            SCOPED_TRACE("level " + std::to_string(level) + ", " + std::to_string(inFlight) + " in flight");
            const SplitRun run = Split(Bzip2Compress(plain, level), inFlight);
            EXPECT_TRUE(run.data == plain);
            EXPECT_EQ(run.blocks, level == 1 ? 18u : 2u);  // 1.7 MB in blocks of a little under 100 kB or 900 kB
            EXPECT_FALSE(run.fellBack);
        }
    }
}

TEST(Bzip2Blocks, DamageEndsTheDataAtTheDamagedBlock) {
    const std::string plain = SampleText(1000000);
    std::string stream = Bzip2Compress(plain, 1);
    stream[stream.size() / 2] = static_cast<char>(stream[stream.size() / 2] ^ 0x10);
    const SplitRun run = Split(stream, 2);
    EXPECT_LT(run.data.size(), plain.size());
    // Whole blocks before the damage are delivered as they are; what the sequential decoding
    // gives of the damaged block before its CRC fails is the entry CRC-32's to catch.
    EXPECT_EQ(run.blocks, 4u);
    ASSERT_GT(run.data.size(), 390000u);
    EXPECT_TRUE(plain.compare(0, 390000, run.data, 0, 390000) == 0);
}

TEST(Bzip2Blocks, TruncatedOrForeignDataEnds) {
    const std::string stream = Bzip2Compress(SampleText(300000), 1);
    EXPECT_LT(Split(stream.substr(0, stream.size() - 20), 2).data.size(), 300000u);
    EXPECT_EQ(Split("not bzip2 data at all, not even close", 2).data, "");
    EXPECT_EQ(Split("BZh9", 2).data, "");
    EXPECT_EQ(Split(Bzip2Compress("", 9), 2).data, "");
    EXPECT_EQ(Split(std::string("BZh9") + NoiseBytes(3000000, 2), 2).data, "") << "no block is this long";
}

// A refused block is retried without its end boundary (here: merged with the next block, which
// cannot decode as one) a bounded number of times; then the rest is decoded as one stream and
// still delivers every byte, whichever block was refused.
TEST(Bzip2Blocks, RefusedBlocksAreRetriedThenDecodedSequentially) {
    const std::string plain = SampleText(1500000);
    const std::string stream = Bzip2Compress(plain, 1);
    for (int refusals : {1, 2, 3, 30}) {
        SCOPED_TRACE(std::to_string(refusals) + " refusals");
        const SplitRun run = Split(stream, 3, refusals);
        EXPECT_TRUE(run.fellBack);
        EXPECT_TRUE(run.data == plain) << run.data.size() << " of " << plain.size() << " bytes";
    }
    // The first refusal at the start: no block was decoded on its own.
    EXPECT_EQ(Split(stream, 3, 1).blocks, 0u);
}

}  // namespace
