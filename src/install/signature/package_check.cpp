#include "install/signature/package_check.h"

#include <memory>

#include "common/log.h"
#include "common/system_error_text.h"
#include "install/signature/handle_istream.h"
#include "install/signature/package_signature.h"

PackageCheck CheckDownloadedPackage(const std::wstring& path, const std::vector<P256PublicPoint>& keys,
                                    const PackageRequirements& requirements, const std::function<bool()>& cancelled,
                                    unique_handle& held) {
    held.reset();
    if (keys.empty()) {
        LogWarning("The package is not checked: this program was built without package keys");
        return PackageCheck::Unchecked;
    }
    Log(LogLevel::Note, "Checking the package signature");
    // Sharing for reading only: the open fails while anyone can still write to the file or delete
    // it, and once it succeeded nobody can get such access until the handle is closed.
    unique_handle package(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!package) {
        LogError(SystemErrorText("Opening the package for its signature check"));
        return PackageCheck::NotAuthentic;
    }

    const std::unique_ptr<SignatureCrypto> crypto = MakeSignatureCrypto();
    HandleIstream bytes(package.get());
    const PackageVerification verification = VerifyPackage(bytes, keys, requirements, *crypto, cancelled);
    switch (verification.verdict) {
        case PackageVerdict::Authentic:
            Log(LogLevel::Note, "The package signature is valid (", verification.reason, "; ",
                DescribeSignedHeader(verification.block), ")");
            held = std::move(package);
            return PackageCheck::Authentic;
        case PackageVerdict::Cancelled:
            return PackageCheck::Cancelled;
        case PackageVerdict::NotAuthentic:
            break;
    }
    LogError("The package signature check failed: " + verification.reason);
    return PackageCheck::NotAuthentic;
}
