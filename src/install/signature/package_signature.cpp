#include "install/signature/package_signature.h"

#include <algorithm>
#include <vector>

#include "zip/end_record.h"

namespace {

// The signed bytes are hashed in pieces of this size, with a cancel check after each.
constexpr std::size_t kHashChunk = 1 << 20;

PackageVerification NotAuthentic(std::string reason) { return {PackageVerdict::NotAuthentic, std::move(reason), {}}; }

// SHA-256 of the first |length| bytes of |package| followed by |header|; none when cancelled or
// failed (|failure| empty when cancelled).
std::optional<Sha256Digest> HashSignedBytes(std::istream& package, std::uint64_t length, const std::string& header,
                                            SignatureCrypto& crypto, const std::function<bool()>& cancelled,
                                            std::string& failure) {
    const auto hash = crypto.StartSha256(failure);
    if (!hash) return std::nullopt;
    package.clear();
    package.seekg(0);
    std::vector<char> chunk(kHashChunk);
    for (std::uint64_t done = 0; done < length;) {
        if (cancelled && cancelled()) return std::nullopt;
        const auto want = static_cast<std::streamsize>(std::min<std::uint64_t>(chunk.size(), length - done));
        package.read(chunk.data(), want);
        if (package.gcount() != want) {
            failure = "the package could not be read whole";
            return std::nullopt;
        }
        if (!hash->Update(chunk.data(), static_cast<std::size_t>(want), failure)) return std::nullopt;
        done += static_cast<std::uint64_t>(want);
    }
    if (!hash->Update(header.data(), header.size(), failure)) return std::nullopt;
    Sha256Digest digest{};
    if (!hash->Finish(digest, failure)) return std::nullopt;
    return digest;
}

}  // namespace

std::optional<PackageKeyId> KeyIdOf(const P256PublicPoint& key, SignatureCrypto& crypto, std::string& failure) {
    const auto hash = crypto.StartSha256(failure);
    Sha256Digest digest{};
    if (!hash || !hash->Update(key.data(), key.size(), failure) || !hash->Finish(digest, failure)) return std::nullopt;
    PackageKeyId id{};
    std::copy_n(digest.begin(), id.size(), id.begin());
    return id;
}

PackageVerification VerifyPackage(std::istream& package, const std::vector<P256PublicPoint>& keys,
                                  const PackageRequirements& requirements, SignatureCrypto& crypto,
                                  const std::function<bool()>& cancelled) {
    package.clear();
    package.seekg(0, std::ios::end);
    const std::streamoff size = package.fail() ? -1 : static_cast<std::streamoff>(package.tellg());
    if (size < 0) return NotAuthentic("the package could not be read");

    // The reader's own scan, so that the check looks at the record the extraction will use.
    const std::optional<EndRecordLocation> end = FindEndRecord(package);
    if (!end || end->offset < 0 || end->record.comment.size() != end->record.commentLength)
        return NotAuthentic("the package is not a ZIP archive (no readable end record)");
    const std::uint64_t blockEnd =
        static_cast<std::uint64_t>(end->offset) + ZipEndRecord::kFixedSize + end->record.comment.size();
    if (blockEnd != static_cast<std::uint64_t>(size))
        return NotAuthentic("the archive comment does not end where the file ends (" +
                            std::to_string(static_cast<std::uint64_t>(size) - blockEnd) + " bytes follow it)");

    std::string failure;
    const auto block = ParseSignatureBlock(end->record.comment, failure);
    if (!block) return NotAuthentic(failure);

    const P256PublicPoint* signer = nullptr;
    for (const P256PublicPoint& key : keys) {
        const auto id = KeyIdOf(key, crypto, failure);
        if (!id) return NotAuthentic("the key id could not be computed: " + failure);
        if (*id == block->keyId) signer = &key;
    }
    const std::string keyText = "key " + HexText(block->keyId.data(), block->keyId.size());
    if (!signer) return NotAuthentic("the package is signed with an unknown " + keyText);

    const std::string header = end->record.comment.substr(0, kSignedHeaderSize);
    const auto digest = HashSignedBytes(package, static_cast<std::uint64_t>(size) - kSignatureBlockSize, header, crypto,
                                        cancelled, failure);
    if (!digest) {
        if (failure.empty()) return {PackageVerdict::Cancelled, {}, {}};
        return NotAuthentic("the package could not be hashed: " + failure);
    }
    switch (crypto.VerifyP256(*signer, *digest, block->signature, failure)) {
        case SignatureMatch::Valid: {
            const std::string unmet = UnmetRequirement(*block, requirements);
            if (!unmet.empty()) return NotAuthentic(unmet + " (signed with " + keyText + ")");
            return {PackageVerdict::Authentic, keyText, *block};
        }
        case SignatureMatch::Invalid:
            return NotAuthentic("the signature by " + keyText + " does not match the package's contents");
        case SignatureMatch::Failed:
            break;
    }
    return NotAuthentic("the signature could not be checked: " + failure);
}
