#pragma once
// The two download addresses of the product, fixed at build time. They are kept in the program
// only scrambled (byte i XOR (i + 97)), so that the address does not stand in the file as text;
// the build step that writes them is cmake/scramble_urls.cmake.
#include <cstdint>
#include <string>
#include <vector>

// One stored text: its scrambled bytes and one byte of room for the terminating zero.
struct ScrambledText {
    std::uint32_t length = 0;
    std::vector<char> bytes;  // length + 1
};

// The scrambled addresses, defined by the generated source that the program links.
extern const std::uint32_t kScrambledUrl32Length;
extern const unsigned char kScrambledUrl32[];
extern const std::uint32_t kScrambledUrl64Length;
extern const unsigned char kScrambledUrl64[];

ScrambledText MakeScrambledText(const unsigned char* stored, std::uint32_t length);

// Reverses the scrambling in place and returns the text up to the first zero byte.
std::string Unscramble(ScrambledText text);

// The address of each build, as 8-bit text.
std::string GetDownloadUrl32();
std::string GetDownloadUrl64();
