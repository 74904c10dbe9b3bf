#include "install/signature/signature_block.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::size_t kTagAt = 0;
constexpr std::size_t kFormatAt = 4;
constexpr std::size_t kAlgorithmAt = 5;
constexpr std::size_t kBuildAt = 6;
constexpr std::size_t kVersionAt = 7;
constexpr std::size_t kSignedAtAt = 15;
constexpr std::size_t kKeyIdAt = 23;
constexpr std::size_t kSignatureAt = 31;
static_assert(kSignatureAt == kSignedHeaderSize);
static_assert(kKeyIdAt + sizeof(PackageKeyId) == kSignedHeaderSize);
constexpr std::uint8_t kFormerFormatVersion = 1;

std::uint64_t BigEndianAt(const std::string& bytes, std::size_t at, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

template <typename Bytes>
void CopyBytes(const std::string& from, std::size_t at, Bytes& to) {
    std::copy_n(from.begin() + static_cast<std::ptrdiff_t>(at), to.size(), reinterpret_cast<char*>(to.data()));
}

}  // namespace

std::optional<SignatureBlock> ParseSignatureBlock(const std::string& comment, std::string& failure) {
    if (comment.empty()) {
        failure = "the package carries no signature (its archive comment is empty)";
        return std::nullopt;
    }
    if (comment.size() <= kAlgorithmAt ||
        !std::equal(kSignatureTag, kSignatureTag + sizeof(kSignatureTag), comment.begin() + kTagAt)) {
        failure = "the package carries no signature (its archive comment is not a signature block)";
        return std::nullopt;
    }
    const auto format = static_cast<std::uint8_t>(comment[kFormatAt]);
    const auto algorithm = static_cast<std::uint8_t>(comment[kAlgorithmAt]);
    if (format == kFormerFormatVersion) {
        failure =
            "the signature block has format 1, which names neither the build nor the version; this program "
            "accepts only format 2 (sign the package again with the current scripts/sign-package)";
        return std::nullopt;
    }
    if (format != kSignatureFormatVersion || algorithm != kSignatureAlgorithmP256Sha256) {
        failure = "the signature block has format " + std::to_string(format) + ", algorithm " +
                  std::to_string(algorithm) + "; this program reads format 2, algorithm 1";
        return std::nullopt;
    }
    if (comment.size() != kSignatureBlockSize) {
        failure = "the package carries no signature (its archive comment is not a signature block)";
        return std::nullopt;
    }
    const auto build = static_cast<std::uint8_t>(comment[kBuildAt]);
    if (build != static_cast<std::uint8_t>(PackageBuild::X86) &&
        build != static_cast<std::uint8_t>(PackageBuild::X64)) {
        failure = "the signature block names an unknown build (" + std::to_string(build) + ")";
        return std::nullopt;
    }
    SignatureBlock block;
    block.build = static_cast<PackageBuild>(build);
    for (std::size_t i = 0; i < block.version.size(); ++i)
        block.version[i] = static_cast<std::uint16_t>(BigEndianAt(comment, kVersionAt + 2 * i, 2));
    block.signedAt = BigEndianAt(comment, kSignedAtAt, 8);
    CopyBytes(comment, kKeyIdAt, block.keyId);
    CopyBytes(comment, kSignatureAt, block.signature);
    return block;
}

std::string BuildText(PackageBuild build) { return build == PackageBuild::X86 ? "32-bit" : "64-bit"; }

std::string VersionText(const PackageVersion& version) {
    return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." + std::to_string(version[2]) + "." +
           std::to_string(version[3]);
}

std::string UtcText(std::uint64_t secondsSince1970) {
    // The civil date of a day number (days since 1970-01-01), proleptic Gregorian calendar.
    const std::uint64_t days = secondsSince1970 / 86400;
    const std::uint64_t seconds = secondsSince1970 % 86400;
    const std::uint64_t shifted = days + 719468;  // days since 0000-03-01
    const std::uint64_t era = shifted / 146097;
    const std::uint64_t dayOfEra = shifted - era * 146097;
    const std::uint64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::uint64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::uint64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    const std::uint64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
    const std::uint64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    const std::uint64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[96];
    std::snprintf(text, sizeof text, "%04llu-%02llu-%02llu %02llu:%02llu:%02llu UTC",
                  static_cast<unsigned long long>(year), static_cast<unsigned long long>(month),
                  static_cast<unsigned long long>(day), static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds / 60 % 60), static_cast<unsigned long long>(seconds % 60));
    return text;
}

std::string HexText(const std::uint8_t* bytes, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}
