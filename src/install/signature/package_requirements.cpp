#include "install/signature/package_requirements.h"

#include "common/version.h"

namespace {
constexpr std::uint64_t kSecondsPerDay = 86400;
}  // namespace

std::string UnmetRequirement(const SignatureBlock& block, const PackageRequirements& requirements) {
    if (requirements.build && block.build != *requirements.build)
        return "the package is signed for the " + BuildText(block.build) + " build, but this installation needs the " +
               BuildText(*requirements.build) + " build";
    if (block.version < requirements.minimumVersion)
        return "the package's version " + VersionText(block.version) + " is older than " +
               VersionText(requirements.minimumVersion) + ", the oldest this program accepts";
    if (requirements.signedNoEarlier && block.signedAt < *requirements.signedNoEarlier)
        return "the package was signed " + UtcText(block.signedAt) + ", before " +
               UtcText(*requirements.signedNoEarlier) + ", the earliest signing time this program accepts";
    return {};
}

std::string DescribeSignedHeader(const SignatureBlock& block) {
    return "version " + VersionText(block.version) + " for the " + BuildText(block.build) + " build, signed " +
           UtcText(block.signedAt);
}

PackageRequirements ProgramPackageRequirements(PackageBuild chosen) {
    PackageRequirements requirements;
    requirements.build = chosen;
    requirements.minimumVersion = {QV_MIN_PACKAGE_VERSION_NUMBERS};
    const std::uint64_t maxAgeDays = QV_PACKAGE_MAX_AGE_DAYS;
    const std::uint64_t builtAt = QV_PROGRAM_BUILD_TIME;
    if (maxAgeDays > 0)
        requirements.signedNoEarlier =
            builtAt > maxAgeDays * kSecondsPerDay ? builtAt - maxAgeDays * kSecondsPerDay : 0;
    return requirements;
}
