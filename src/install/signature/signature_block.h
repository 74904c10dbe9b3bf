#pragma once
// The signature block: the package's whole archive comment, and so the last bytes of the file.
// Layout (multi-byte numbers big-endian):
//
//   offset size  field
//        0    4  tag "QVSG"
//        4    1  format version, 2
//        5    1  algorithm, 1 = ECDSA over P-256 with SHA-256
//        6    1  build: 1 = 32-bit, 2 = 64-bit
//        7    8  the package's version: four 16-bit numbers
//       15    8  time of signing: seconds since 1970-01-01 00:00 UTC
//       23    8  key id: the first 8 bytes of SHA-256 over the public key's X and Y (64 bytes)
//       31   64  signature: r then s, 32 bytes each
//
// The signature is made over SHA-256 of every byte of the file before the block (all entries,
// the central directory and the end record up to and including its comment length) followed by
// the block's first 31 bytes, the signed header: the build, version and time cannot be changed
// without breaking the signature. Format 1 had no signed header and is refused.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "install/signature/signature_crypto.h"

inline constexpr char kSignatureTag[4] = {'Q', 'V', 'S', 'G'};
inline constexpr std::uint8_t kSignatureFormatVersion = 2;
inline constexpr std::uint8_t kSignatureAlgorithmP256Sha256 = 1;
inline constexpr std::size_t kSignedHeaderSize = 31;
inline constexpr std::size_t kSignatureBlockSize = kSignedHeaderSize + sizeof(P256Signature);

using PackageKeyId = std::array<std::uint8_t, 8>;
using PackageVersion = std::array<std::uint16_t, 4>;

enum class PackageBuild : std::uint8_t { X86 = 1, X64 = 2 };

struct SignatureBlock {
    PackageBuild build = PackageBuild::X64;
    PackageVersion version{};
    std::uint64_t signedAt = 0;  // seconds since 1970-01-01 00:00 UTC
    PackageKeyId keyId{};
    P256Signature signature{};
};

// The block of |comment|; none, with the reason in |failure|, when the comment is not a signature
// block of the format this program reads.
std::optional<SignatureBlock> ParseSignatureBlock(const std::string& comment, std::string& failure);

// "32-bit" or "64-bit".
std::string BuildText(PackageBuild build);
// "10.22.0.0".
std::string VersionText(const PackageVersion& version);
// "2026-12-09 15:30:00 UTC".
std::string UtcText(std::uint64_t secondsSince1970);
// Lower-case hexadecimal, for log lines.
std::string HexText(const std::uint8_t* bytes, std::size_t size);
