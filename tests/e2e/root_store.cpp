// Puts a certificate into, or takes it out of, the local machine's trusted root store of the
// Windows (here: the Wine prefix) it runs in. The HTTPS tests trust their throwaway authority
// there, for the time of the tests only, and nowhere else.
//   root_store.exe add CERT.der      the certificate is trusted afterwards
//   root_store.exe remove CERT.der   it is not in the store afterwards (absent already is fine)
//   root_store.exe has CERT.der      exit code 0 when it is in the store, 1 when not
// Any failure prints what was being done with the system's error code and exits with 2.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kYes = 0;
constexpr int kNo = 1;
constexpr int kFailed = 2;

struct StoreCloser {
    void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

struct CertificateFreer {
    void operator()(PCCERT_CONTEXT certificate) const { CertFreeCertificateContext(certificate); }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFreer>;

int Fail(const char* what) {
    std::fprintf(stderr, "root_store: %s failed with error %lu\n", what, GetLastError());
    return kFailed;
}

std::vector<BYTE> ReadFileBytes(const wchar_t* path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

Store OpenRootStore() {
    return Store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
}

// The store's own copy of |certificate|, or null when the store does not hold it.
Certificate FindInStore(HCERTSTORE store, PCCERT_CONTEXT certificate) {
    return Certificate(
        CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, certificate, nullptr));
}

int Add(HCERTSTORE store, PCCERT_CONTEXT certificate) {
    if (!CertAddCertificateContextToStore(store, certificate, CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
        return Fail("adding the certificate to the root store");
    return kYes;
}

int Remove(HCERTSTORE store, PCCERT_CONTEXT certificate) {
    Certificate stored = FindInStore(store, certificate);
    // CertDeleteCertificateFromStore frees the context it is given, whatever its result. The
    // commit writes the removal to the registry at once: under Wine 8 the store was still
    // referenced after its close, and without the commit the removal never reached the registry.
    if (stored && !CertDeleteCertificateFromStore(stored.release()))
        return Fail("removing the certificate from the root store");
    if (!CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr)) return Fail("committing the root store");
    return FindInStore(store, certificate) ? Fail("checking the certificate's removal") : kYes;
}

int Has(HCERTSTORE store, PCCERT_CONTEXT certificate) { return FindInStore(store, certificate) ? kYes : kNo; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: root_store.exe add|remove|has CERT.der\n");
        return kFailed;
    }
    const std::wstring action = argv[1];
    std::vector<BYTE> encoded = ReadFileBytes(argv[2]);
    if (encoded.empty()) return Fail("reading the certificate file");
    Certificate certificate(
        CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(), static_cast<DWORD>(encoded.size())));
    if (!certificate) return Fail("decoding the certificate");
    Store store = OpenRootStore();
    if (!store) return Fail("opening the local machine's root store");
    if (action == L"add") return Add(store.get(), certificate.get());
    if (action == L"remove") return Remove(store.get(), certificate.get());
    if (action == L"has") return Has(store.get(), certificate.get());
    std::fprintf(stderr, "root_store: unknown action\n");
    return kFailed;
}
