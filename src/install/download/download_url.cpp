#include "install/download/download_url.h"

ScrambledText MakeScrambledText(const unsigned char* stored, std::uint32_t length) {
    ScrambledText text;
    text.length = length;
    text.bytes.assign(stored, stored + length);
    text.bytes.push_back('\0');
    return text;
}

std::string Unscramble(ScrambledText text) {
    for (std::uint32_t i = 0; i < text.length; ++i)
        text.bytes[i] = static_cast<char>(static_cast<unsigned char>(text.bytes[i]) ^ ((i + 97) & 0xFF));
    text.bytes[text.length] = '\0';
    return std::string(text.bytes.data());
}

std::string GetDownloadUrl32() { return Unscramble(MakeScrambledText(kScrambledUrl32, kScrambledUrl32Length)); }

std::string GetDownloadUrl64() { return Unscramble(MakeScrambledText(kScrambledUrl64, kScrambledUrl64Length)); }
