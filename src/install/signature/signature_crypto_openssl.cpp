// The package signature check's cryptography over OpenSSL's libcrypto, for the host tools and
// tests.
#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <iterator>
#include <memory>

#include "install/signature/signature_crypto.h"

namespace {

struct EvpMdCtxFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct EvpPkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct EvpPkeyCtxFree {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
struct EcdsaSigFree {
    void operator()(ECDSA_SIG* signature) const { ECDSA_SIG_free(signature); }
};
struct BignumFree {
    void operator()(BIGNUM* number) const { BN_free(number); }
};

// The library's reason for the failure of |what|.
std::string OpensslFailure(const char* what) {
    char text[256] = {};
    ERR_error_string_n(ERR_get_error(), text, sizeof(text));
    ERR_clear_error();
    return std::string(what) + " failed: " + text;
}

class OpensslSha256 : public Sha256Hash {
public:
    explicit OpensslSha256(std::unique_ptr<EVP_MD_CTX, EvpMdCtxFree> context) : m_context(std::move(context)) {}

    bool Update(const void* data, std::size_t size, std::string& failure) override {
        if (EVP_DigestUpdate(m_context.get(), data, size) == 1) return true;
        failure = OpensslFailure("EVP_DigestUpdate");
        return false;
    }

    bool Finish(Sha256Digest& digest, std::string& failure) override {
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(m_context.get(), digest.data(), &length) == 1 && length == digest.size()) return true;
        failure = OpensslFailure("EVP_DigestFinal_ex");
        return false;
    }

private:
    std::unique_ptr<EVP_MD_CTX, EvpMdCtxFree> m_context;
};

// A P-256 public key as libcrypto reads it: the DER SubjectPublicKeyInfo of the point.
std::unique_ptr<EVP_PKEY, EvpPkeyFree> P256Key(const P256PublicPoint& point) {
    unsigned char der[sizeof(kP256PublicKeyInfoPrefix) + 64];
    std::copy(std::begin(kP256PublicKeyInfoPrefix), std::end(kP256PublicKeyInfoPrefix), der);
    std::copy(point.begin(), point.end(), der + sizeof(kP256PublicKeyInfoPrefix));
    const unsigned char* cursor = der;
    return std::unique_ptr<EVP_PKEY, EvpPkeyFree>(d2i_PUBKEY(nullptr, &cursor, sizeof(der)));
}

// r || s as the DER ECDSA-Sig-Value libcrypto verifies; empty when it cannot be built.
std::string DerSignature(const P256Signature& signature) {
    std::unique_ptr<ECDSA_SIG, EcdsaSigFree> value(ECDSA_SIG_new());
    std::unique_ptr<BIGNUM, BignumFree> r(BN_bin2bn(signature.data(), 32, nullptr));
    std::unique_ptr<BIGNUM, BignumFree> s(BN_bin2bn(signature.data() + 32, 32, nullptr));
    if (!value || !r || !s || ECDSA_SIG_set0(value.get(), r.get(), s.get()) != 1) return {};
    (void)r.release();  // owned by |value| now
    (void)s.release();
    unsigned char* der = nullptr;
    const int length = i2d_ECDSA_SIG(value.get(), &der);
    if (length <= 0) return {};
    std::string bytes(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
    OPENSSL_free(der);
    return bytes;
}

class OpensslCrypto : public SignatureCrypto {
public:
    std::unique_ptr<Sha256Hash> StartSha256(std::string& failure) override {
        std::unique_ptr<EVP_MD_CTX, EvpMdCtxFree> context(EVP_MD_CTX_new());
        if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
            failure = OpensslFailure("EVP_DigestInit_ex");
            return nullptr;
        }
        return std::make_unique<OpensslSha256>(std::move(context));
    }

    SignatureMatch VerifyP256(const P256PublicPoint& point, const Sha256Digest& digest, const P256Signature& signature,
                              std::string& failure) override {
        const auto key = P256Key(point);
        if (!key) {
            failure = OpensslFailure("Reading the public key");
            return SignatureMatch::Failed;
        }
        const std::string der = DerSignature(signature);
        if (der.empty()) return SignatureMatch::Invalid;
        std::unique_ptr<EVP_PKEY_CTX, EvpPkeyCtxFree> context(EVP_PKEY_CTX_new(key.get(), nullptr));
        if (!context || EVP_PKEY_verify_init(context.get()) != 1) {
            failure = OpensslFailure("EVP_PKEY_verify_init");
            return SignatureMatch::Failed;
        }
        const int result = EVP_PKEY_verify(context.get(), reinterpret_cast<const unsigned char*>(der.data()),
                                           der.size(), digest.data(), digest.size());
        ERR_clear_error();
        return result == 1 ? SignatureMatch::Valid : SignatureMatch::Invalid;
    }
};

}  // namespace

std::unique_ptr<SignatureCrypto> MakeSignatureCrypto() { return std::make_unique<OpensslCrypto>(); }
