#include "verify_package.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>

#include "install/signature/package_signature.h"

namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct EvpPkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

// The point of the P-256 public key in the PEM file |path|.
std::optional<P256PublicPoint> ReadPublicKey(const std::string& path, std::string& failure) {
    const std::unique_ptr<BIO, BioFree> file(BIO_new_file(path.c_str(), "r"));
    const std::unique_ptr<EVP_PKEY, EvpPkeyFree> key(file ? PEM_read_bio_PUBKEY(file.get(), nullptr, nullptr, nullptr)
                                                          : nullptr);
    if (!key) {
        failure = "no PEM public key in " + path;
        return std::nullopt;
    }
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key.get(), &der);
    std::optional<P256PublicPoint> point;
    const std::size_t prefix = sizeof(kP256PublicKeyInfoPrefix);
    if (length == static_cast<int>(prefix + 64) &&
        std::equal(std::begin(kP256PublicKeyInfoPrefix), std::end(kP256PublicKeyInfoPrefix), der)) {
        point.emplace();
        std::copy_n(der + prefix, 64, point->begin());
    } else {
        failure = path + " does not hold a P-256 public key";
    }
    OPENSSL_free(der);
    return point;
}

}  // namespace

int VerifyPackageFile(const std::string& keyPath, const std::string& packagePath) {
    std::string failure;
    const auto key = ReadPublicKey(keyPath, failure);
    if (!key) {
        std::cerr << "qv-unzip: " << failure << '\n';
        return 1;
    }
    std::ifstream package(packagePath, std::ios::binary);
    if (!package.is_open()) {
        std::cerr << "qv-unzip: cannot open " << packagePath << '\n';
        return 1;
    }
    // Any build and any version: the tool tells the release engineer what the package says.
    const PackageVerification result =
        VerifyPackage(package, {*key}, PackageRequirements{}, *MakeSignatureCrypto(), {});
    if (result.verdict == PackageVerdict::Authentic) {
        std::cout << packagePath << ": authentic, signed with " << result.reason << ", "
                  << DescribeSignedHeader(result.block) << '\n';
        return 0;
    }
    std::cout << packagePath << ": NOT authentic: " << result.reason << '\n';
    return 1;
}
