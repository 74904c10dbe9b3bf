#pragma once
// The package signature: proof that a downloaded package is the vendor's, checked before any of
// it is unpacked or run.
//
// The signature block is the whole archive comment of the package's end record, and so the last
// bytes of the file. It signs every byte before itself: all entries, the central directory and the
// end record up to and including its comment length. Layout (multi-byte numbers big-endian):
//
//   offset size  field
//        0    4  tag "QVSG"
//        4    1  format version, 1
//        5    1  algorithm, 1 = ECDSA over P-256 with SHA-256
//        6    8  key id: the first 8 bytes of SHA-256 over the public key's X and Y (64 bytes)
//       14   64  signature: r then s, 32 bytes each, over SHA-256 of the signed bytes
//
// A package passes when the end record the ZIP reader uses has exactly this block as its comment,
// the block ends where the file ends, its key id names one of the keys the program carries, and
// the signature matches. Nothing the reader could use lies outside the signed bytes: data appended
// after the block, or a second end record behind it, moves the block away from the end of the file.

#include <array>
#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "install/signature/signature_crypto.h"

inline constexpr char kSignatureTag[4] = {'Q', 'V', 'S', 'G'};
inline constexpr std::uint8_t kSignatureFormatVersion = 1;
inline constexpr std::uint8_t kSignatureAlgorithmP256Sha256 = 1;
inline constexpr std::size_t kSignatureBlockSize = 78;

using PackageKeyId = std::array<std::uint8_t, 8>;

struct SignatureBlock {
    PackageKeyId keyId{};
    P256Signature signature{};
};

// The block of |comment|; none, with the reason in |failure|, when the comment is not a signature
// block of the format this program reads.
std::optional<SignatureBlock> ParseSignatureBlock(const std::string& comment, std::string& failure);

// The key id of |key|; none, with the reason in |failure|, when it cannot be computed.
std::optional<PackageKeyId> KeyIdOf(const P256PublicPoint& key, SignatureCrypto& crypto, std::string& failure);

// Lower-case hexadecimal, for log lines.
std::string HexText(const std::uint8_t* bytes, std::size_t size);

enum class PackageVerdict {
    Authentic,     // signed by one of the keys
    NotAuthentic,  // unsigned, signed by another key, changed, or unreadable (the reason says)
    Cancelled,     // |cancelled| answered true between two chunks
};

struct PackageVerification {
    PackageVerdict verdict = PackageVerdict::NotAuthentic;
    std::string reason;  // why it is not authentic; the key id when it is
};

// Checks |package| (seekable, binary) against |keys| with |crypto|, asking |cancelled| between
// chunks of the signed bytes.
PackageVerification VerifyPackage(std::istream& package, const std::vector<P256PublicPoint>& keys,
                                  SignatureCrypto& crypto, const std::function<bool()>& cancelled);
