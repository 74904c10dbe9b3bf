#pragma once
// The check of the downloaded package's signature, between the download and the extraction.
#ifdef _WIN32
#include <functional>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "install/signature/package_requirements.h"
#include "install/signature/signature_crypto.h"

enum class PackageCheck {
    Authentic,     // signed by one of |keys|; |held| keeps it unchangeable
    Unchecked,     // the program carries no keys: a Warning is logged and nothing is held
    NotAuthentic,  // the reasons are logged; nothing is held
    Cancelled,     // |cancelled| answered true; nothing is held
};

// Opens the package at |path| for reading with neither write nor delete sharing, and checks it
// against |keys| and |requirements|. While |held| stays open nobody can change, rename or delete the file, so whoever
// opens it by path for reading afterwards reads exactly the bytes that were checked.
PackageCheck CheckDownloadedPackage(const std::wstring& path, const std::vector<P256PublicPoint>& keys,
                                    const PackageRequirements& requirements, const std::function<bool()>& cancelled,
                                    unique_handle& held);
#endif
