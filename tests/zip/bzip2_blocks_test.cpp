// Splitting a bzip2 stream into single-block streams that decode on their own.

#include <gtest/gtest.h>

#include "support/zip_builder.h"
#include "zip/bzip2_blocks.h"

namespace {

// Feeds |stream| in 32 KiB pieces and decodes every block handed out, |wanted| at a time.
std::string DecodeByBlocks(const std::string& stream, std::size_t wanted, std::size_t* blockCount = nullptr) {
    Bzip2BlockSplitter splitter;
    Bzip2AllocationCache cache;
    std::string all;
    std::size_t fed = 0;
    std::size_t blocks = 0;
    for (int guard = 0; splitter.MoreBlocks() && guard < 100000; ++guard) {
        while (!splitter.HasBlocks(wanted)) {
            const std::size_t count = std::min<std::size_t>(32768, stream.size() - fed);
            splitter.Append(stream.data() + fed, count);
            fed += count;
            if (count < 32768) splitter.EndInput();
        }
        const auto handed = splitter.NextBlocks(wanted);
        std::size_t good = 0;
        for (const std::string& block : handed) {
            std::string out;
            if (!DecodeBlockStream(block, out, cache)) break;
            all += out;
            ++good;
        }
        blocks += good;
        splitter.Confirm(handed.size(), good);
    }
    EXPECT_FALSE(splitter.MoreBlocks()) << "the splitter must come to an end";
    if (blockCount) *blockCount = blocks;
    return all;
}

TEST(Bzip2Blocks, EveryBlockDecodesAsAStreamOfItsOwn) {
    const std::string plain = SampleText(500000) + NoiseBytes(300000, 9) + SampleText(900000);
    for (int level : {1, 9}) {
        for (std::size_t wanted : {1u, 2u, 4u}) {
            SCOPED_TRACE("level " + std::to_string(level) + ", " + std::to_string(wanted) + " at a time");
            std::size_t blocks = 0;
            EXPECT_TRUE(DecodeByBlocks(Bzip2Compress(plain, level), wanted, &blocks) == plain);
            EXPECT_EQ(blocks, level == 1 ? 18u : 2u);  // 1.7 MB in blocks of a little under 100 kB or 900 kB
        }
    }
}

TEST(Bzip2Blocks, DamageEndsTheDataAtTheDamagedBlock) {
    const std::string plain = SampleText(1000000);
    std::string stream = Bzip2Compress(plain, 1);
    stream[stream.size() / 2] = static_cast<char>(stream[stream.size() / 2] ^ 0x10);
    const std::string got = DecodeByBlocks(stream, 2);
    EXPECT_LT(got.size(), plain.size());
    EXPECT_TRUE(plain.compare(0, got.size(), got) == 0) << "whole blocks before the damage are delivered";
}

TEST(Bzip2Blocks, TruncatedOrForeignDataEnds) {
    const std::string stream = Bzip2Compress(SampleText(300000), 1);
    const std::string cut = DecodeByBlocks(stream.substr(0, stream.size() - 20), 2);
    EXPECT_LT(cut.size(), 300000u);
    EXPECT_EQ(DecodeByBlocks("not bzip2 data at all, not even close", 2), "");
    EXPECT_EQ(DecodeByBlocks("BZh9", 2), "");
    EXPECT_EQ(DecodeByBlocks(Bzip2Compress("", 9), 2), "");
    EXPECT_EQ(DecodeByBlocks(std::string("BZh9") + NoiseBytes(3000000, 2), 2), "") << "no block is this long";
}

// A boundary that decoding refuses is dropped and the block is retried up to the next one.
TEST(Bzip2Blocks, RefusedBlockIsRetriedWithoutItsEndBoundary) {
    const std::string plain = SampleText(400000);
    Bzip2BlockSplitter splitter;
    const std::string stream = Bzip2Compress(plain, 1);
    splitter.Append(stream.data(), stream.size());
    splitter.EndInput();
    ASSERT_TRUE(splitter.HasBlocks(2));
    const auto first = splitter.NextBlocks(2);
    ASSERT_EQ(first.size(), 2u);
    splitter.Confirm(2, 0);  // as if the first block's end had been a chance magic
    ASSERT_TRUE(splitter.HasBlocks(1));
    const auto merged = splitter.NextBlocks(1);
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_GT(merged[0].size(), first[0].size() + first[1].size() - 20) << "two blocks' bits in one stream";
}

}  // namespace
