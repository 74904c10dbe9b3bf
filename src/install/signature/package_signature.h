#pragma once
// The package signature: proof that a downloaded package is the vendor's, made for the build
// and at least the version this program installs, checked before any of it is unpacked or run.
//
// A package passes when the end record the ZIP reader uses has exactly a signature block
// (signature_block.h) as its comment, the block ends where the file ends, its key id names one of
// the keys the program carries, the signature matches, and the signed header meets the program's
// requirements (package_requirements.h). Nothing the reader could use lies outside the signed
// bytes: data appended after the block, or a second end record behind it, moves the block away
// from the end of the file.

#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "install/signature/package_requirements.h"
#include "install/signature/signature_block.h"
#include "install/signature/signature_crypto.h"

// The key id of |key|; none, with the reason in |failure|, when it cannot be computed.
std::optional<PackageKeyId> KeyIdOf(const P256PublicPoint& key, SignatureCrypto& crypto, std::string& failure);

enum class PackageVerdict {
    Authentic,     // signed by one of the keys
    NotAuthentic,  // unsigned, signed by another key, changed, unreadable, or not what the
                   // requirements ask for (the reason says)
    Cancelled,     // |cancelled| answered true between two chunks
};

struct PackageVerification {
    PackageVerdict verdict = PackageVerdict::NotAuthentic;
    std::string reason;    // why it is not authentic; the key id when it is
    SignatureBlock block;  // the signed header and key id, when authentic
};

// Checks |package| (seekable, binary) against |keys| and |requirements| with |crypto|, asking
// |cancelled| between chunks of the signed bytes. The requirements are judged only once the
// signature has matched, so a refusal for them names what the vendor really signed.
PackageVerification VerifyPackage(std::istream& package, const std::vector<P256PublicPoint>& keys,
                                  const PackageRequirements& requirements, SignatureCrypto& crypto,
                                  const std::function<bool()>& cancelled);
