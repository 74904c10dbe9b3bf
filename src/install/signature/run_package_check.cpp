#include "install/signature/run_package_check.h"

#include <windows.h>

#include <functional>

#include "common/log.h"
#include "common/system_error_text.h"
#include "install/run_context.h"
#include "install/signature/package_check.h"
#include "install/signature/package_keys.h"

namespace {
constexpr char kNotAuthentic[] = "The downloaded package is not authentic.";
}  // namespace

bool CheckRunPackage(RunContext& run, unique_handle& held) {
    const std::function<bool()> cancelRequested = [&run] { return run.Cancelled(); };
    const PackageRequirements requirements =
        ProgramPackageRequirements(run.choices.use32Bit ? PackageBuild::X86 : PackageBuild::X64);
    switch (CheckDownloadedPackage(run.packagePath, CompiledPackageKeys(), requirements, cancelRequested, held)) {
        case PackageCheck::Authentic:
        case PackageCheck::Unchecked:
            return true;
        case PackageCheck::Cancelled:
            Log(LogLevel::Note, "Canceling the package check...");
            return false;
        case PackageCheck::NotAuthentic:
            break;
    }
    if (!DeleteFileW(run.packagePath.c_str()))
        LogWarning(SystemErrorText("Deleting the package that failed its check"));
    run.ReportError(kNotAuthentic);
    return false;
}
