#pragma once
// What a signed package must be beyond authentic: for the build the program installs, not older
// than the oldest version the program accepts, and, when the program limits it, signed not too
// long before the program was built. A mirror that serves last year's package (rollback), keeps
// serving an old one (freeze) or the other build's package is refused by these rules.

#include <cstdint>
#include <optional>
#include <string>

#include "install/signature/signature_block.h"

struct PackageRequirements {
    std::optional<PackageBuild> build;             // none: either build
    PackageVersion minimumVersion{};               // the lowest version accepted
    std::optional<std::uint64_t> signedNoEarlier;  // seconds since 1970 UTC; none: any time
};

// Empty when the signed header in |block| meets |requirements|; else why it does not.
std::string UnmetRequirement(const SignatureBlock& block, const PackageRequirements& requirements);

// "version 10.22.0.0 for the 64-bit build, signed 2026-12-09 15:30:00 UTC", for the log.
std::string DescribeSignedHeader(const SignatureBlock& block);

// The program's own requirements (fixed at build time) for the build it chose to install.
PackageRequirements ProgramPackageRequirements(PackageBuild chosen);
