#include "install/download/download_url.h"

#include <gtest/gtest.h>

#include <cstring>

#include "expected_urls.h"

namespace {

TEST(DownloadUrl, BuildStepScramblingRoundTrips) {
    EXPECT_EQ(kExpectedUrl32, GetDownloadUrl32());
    EXPECT_EQ(kExpectedUrl64, GetDownloadUrl64());
}

TEST(DownloadUrl, StoredBytesAreNotThePlainText) {
    ASSERT_EQ(std::strlen(kExpectedUrl32), kScrambledUrl32Length);
    ASSERT_EQ(std::strlen(kExpectedUrl64), kScrambledUrl64Length);
    EXPECT_NE(0, std::memcmp(kExpectedUrl32, kScrambledUrl32, kScrambledUrl32Length));
    // Byte i is stored as byte XOR (i + 97), the key taken modulo 256.
    for (std::uint32_t i = 0; i < kScrambledUrl64Length; ++i) {
        const unsigned key = (i + 97) & 0xFF;
        ASSERT_EQ(static_cast<unsigned char>(kExpectedUrl64[i]) ^ key, kScrambledUrl64[i]) << "byte " << i;
    }
    ASSERT_GT(kScrambledUrl64Length, 160u) << "the test address must pass the key's wrap-around";
}

TEST(DownloadUrl, UnscrambleStopsAtTheFirstZero) {
    const unsigned char stored[] = {'a' ^ 97, 0 ^ 98, 'c' ^ 99};
    EXPECT_EQ("a", Unscramble(MakeScrambledText(stored, 3)));
    EXPECT_EQ("", Unscramble(MakeScrambledText(stored, 0)));
}

}  // namespace
