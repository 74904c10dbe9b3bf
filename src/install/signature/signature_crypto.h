#pragma once
// The two cryptographic operations the package signature check needs, behind a small interface:
// the installer uses the system's CNG (signature_crypto_cng.cpp), the host tools and tests use
// OpenSSL's libcrypto (signature_crypto_openssl.cpp).

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

using Sha256Digest = std::array<std::uint8_t, 32>;
// An uncompressed P-256 public point without its 0x04 prefix: X then Y, 32 big-endian bytes each.
using P256PublicPoint = std::array<std::uint8_t, 64>;
// An ECDSA signature as r then s, 32 big-endian bytes each.
using P256Signature = std::array<std::uint8_t, 64>;

// The DER SubjectPublicKeyInfo of an uncompressed P-256 public key (RFC 5480) is this prefix
// followed by the point's X and Y.
inline constexpr std::uint8_t kP256PublicKeyInfoPrefix[27] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                                              0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                                              0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

class Sha256Hash {
public:
    virtual ~Sha256Hash() = default;
    // False, with the reason in |failure|, when the system could not hash.
    virtual bool Update(const void* data, std::size_t size, std::string& failure) = 0;
    virtual bool Finish(Sha256Digest& digest, std::string& failure) = 0;
};

enum class SignatureMatch {
    Valid,    // |signature| was made over |digest| with the key's private half
    Invalid,  // it was not
    Failed,   // the check itself could not be made (the reason says why)
};

class SignatureCrypto {
public:
    virtual ~SignatureCrypto() = default;
    // A new SHA-256 computation, or null with the reason in |failure|.
    virtual std::unique_ptr<Sha256Hash> StartSha256(std::string& failure) = 0;
    // ECDSA over P-256 on a SHA-256 digest.
    virtual SignatureMatch VerifyP256(const P256PublicPoint& key, const Sha256Digest& digest,
                                      const P256Signature& signature, std::string& failure) = 0;
};

// The implementation of this build: CNG on Windows, libcrypto elsewhere.
std::unique_ptr<SignatureCrypto> MakeSignatureCrypto();
