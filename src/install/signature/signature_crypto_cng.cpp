// The package signature check's cryptography over the system's CNG. bcrypt.dll is not one of
// Windows' KnownDLLs: it is loaded from System32 only, never imported statically.
#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "common/system_error_text.h"
#include "common/system_library.h"
#include "install/signature/signature_crypto.h"

namespace {

constexpr NTSTATUS kStatusSuccess = 0;
constexpr NTSTATUS kStatusInvalidSignature = static_cast<NTSTATUS>(0xC000A000L);

// The CNG functions the check uses, looked up once.
struct Bcrypt {
    decltype(&BCryptOpenAlgorithmProvider) openAlgorithmProvider = nullptr;
    decltype(&BCryptCloseAlgorithmProvider) closeAlgorithmProvider = nullptr;
    decltype(&BCryptCreateHash) createHash = nullptr;
    decltype(&BCryptHashData) hashData = nullptr;
    decltype(&BCryptFinishHash) finishHash = nullptr;
    decltype(&BCryptDestroyHash) destroyHash = nullptr;
    decltype(&BCryptImportKeyPair) importKeyPair = nullptr;
    decltype(&BCryptDestroyKey) destroyKey = nullptr;
    decltype(&BCryptVerifySignature) verifySignature = nullptr;
    std::string failure;  // why a function is missing; empty when all were found

    template <typename Function>
    void Find(Function& function, const char* name) {
        function = SystemFunction<Function>(L"bcrypt.dll", name);
        if (!function && failure.empty())
            failure = SystemErrorText((std::string("Finding ") + name + " in bcrypt.dll").c_str());
    }
};

const Bcrypt& BcryptFunctions() {
    static const Bcrypt functions = [] {
        Bcrypt found;
        found.Find(found.openAlgorithmProvider, "BCryptOpenAlgorithmProvider");
        found.Find(found.closeAlgorithmProvider, "BCryptCloseAlgorithmProvider");
        found.Find(found.createHash, "BCryptCreateHash");
        found.Find(found.hashData, "BCryptHashData");
        found.Find(found.finishHash, "BCryptFinishHash");
        found.Find(found.destroyHash, "BCryptDestroyHash");
        found.Find(found.importKeyPair, "BCryptImportKeyPair");
        found.Find(found.destroyKey, "BCryptDestroyKey");
        found.Find(found.verifySignature, "BCryptVerifySignature");
        return found;
    }();
    return functions;
}

std::string StatusFailure(const char* call, NTSTATUS status) {
    char text[96];
    std::snprintf(text, sizeof(text), "%s failed with status 0x%08lX", call,
                  static_cast<unsigned long>(static_cast<ULONG>(status)));
    return text;
}

struct AlgorithmClose {
    void operator()(void* algorithm) const { BcryptFunctions().closeAlgorithmProvider(algorithm, 0); }
};
struct HashDestroy {
    void operator()(void* hash) const { BcryptFunctions().destroyHash(hash); }
};
struct KeyDestroy {
    void operator()(void* key) const { BcryptFunctions().destroyKey(key); }
};
using unique_algorithm = std::unique_ptr<void, AlgorithmClose>;
using unique_hash = std::unique_ptr<void, HashDestroy>;
using unique_key = std::unique_ptr<void, KeyDestroy>;

unique_algorithm OpenAlgorithm(const wchar_t* name, std::string& failure) {
    const Bcrypt& bcrypt = BcryptFunctions();
    if (!bcrypt.failure.empty()) {
        failure = bcrypt.failure;
        return nullptr;
    }
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    const NTSTATUS status = bcrypt.openAlgorithmProvider(&algorithm, name, nullptr, 0);
    if (status != kStatusSuccess) {
        failure = StatusFailure("BCryptOpenAlgorithmProvider", status);
        return nullptr;
    }
    return unique_algorithm(algorithm);
}

class CngSha256 : public Sha256Hash {
public:
    CngSha256(unique_algorithm algorithm, unique_hash hash)
        : m_algorithm(std::move(algorithm)), m_hash(std::move(hash)) {}

    bool Update(const void* data, std::size_t size, std::string& failure) override {
        // BCryptHashData takes a ULONG count and a non-const pointer that it only reads.
        auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
        for (std::size_t done = 0; done < size;) {
            const auto piece = static_cast<ULONG>(std::min<std::size_t>(size - done, 1u << 30));
            const NTSTATUS status = BcryptFunctions().hashData(m_hash.get(), bytes + done, piece, 0);
            if (status != kStatusSuccess) {
                failure = StatusFailure("BCryptHashData", status);
                return false;
            }
            done += piece;
        }
        return true;
    }

    bool Finish(Sha256Digest& digest, std::string& failure) override {
        const NTSTATUS status =
            BcryptFunctions().finishHash(m_hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
        if (status == kStatusSuccess) return true;
        failure = StatusFailure("BCryptFinishHash", status);
        return false;
    }

private:
    unique_algorithm m_algorithm;  // outlives the hash made from it
    unique_hash m_hash;
};

class CngCrypto : public SignatureCrypto {
public:
    std::unique_ptr<Sha256Hash> StartSha256(std::string& failure) override {
        unique_algorithm algorithm = OpenAlgorithm(BCRYPT_SHA256_ALGORITHM, failure);
        if (!algorithm) return nullptr;
        BCRYPT_HASH_HANDLE hash = nullptr;
        // The hash object's memory is left to the system (Windows 7 and later).
        const NTSTATUS status = BcryptFunctions().createHash(algorithm.get(), &hash, nullptr, 0, nullptr, 0, 0);
        if (status != kStatusSuccess) {
            failure = StatusFailure("BCryptCreateHash", status);
            return nullptr;
        }
        unique_hash owned(hash);
        return std::make_unique<CngSha256>(std::move(algorithm), std::move(owned));
    }

    SignatureMatch VerifyP256(const P256PublicPoint& point, const Sha256Digest& digest, const P256Signature& signature,
                              std::string& failure) override {
        const unique_algorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM, failure);
        if (!algorithm) return SignatureMatch::Failed;

        // BCRYPT_ECCKEY_BLOB header, then X and Y.
        UCHAR blob[sizeof(BCRYPT_ECCKEY_BLOB) + sizeof(P256PublicPoint)] = {};
        const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
        std::copy_n(reinterpret_cast<const UCHAR*>(&header), sizeof(header), blob);
        std::copy(point.begin(), point.end(), blob + sizeof(header));
        BCRYPT_KEY_HANDLE key = nullptr;
        const NTSTATUS imported = BcryptFunctions().importKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &key,
                                                                  blob, static_cast<ULONG>(sizeof(blob)), 0);
        if (imported != kStatusSuccess) {
            failure = StatusFailure("BCryptImportKeyPair", imported);
            return SignatureMatch::Failed;
        }
        const unique_key ownedKey(key);

        Sha256Digest hashed = digest;  // the call takes non-const pointers
        P256Signature value = signature;
        const NTSTATUS status =
            BcryptFunctions().verifySignature(key, nullptr, hashed.data(), static_cast<ULONG>(hashed.size()),
                                              value.data(), static_cast<ULONG>(value.size()), 0);
        if (status == kStatusSuccess) return SignatureMatch::Valid;
        if (status == kStatusInvalidSignature) return SignatureMatch::Invalid;
        failure = StatusFailure("BCryptVerifySignature", status);
        return SignatureMatch::Failed;
    }
};

}  // namespace

std::unique_ptr<SignatureCrypto> MakeSignatureCrypto() { return std::make_unique<CngCrypto>(); }
