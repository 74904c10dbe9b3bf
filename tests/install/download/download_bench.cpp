// Times one real transfer of a package, for bench/download_bench.py:
//   download_bench.exe URL FILE
// prints "BYTES bytes in MILLISECONDS ms" (or the failure) and ends with 0 when it arrived whole.
#include <windows.h>

#include <chrono>
#include <cstdio>

#include "common/text.h"
#include "install/download/package_transfer.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: download_bench URL FILE\n");
        return 2;
    }
    TransferRequest request;
    request.url = argv[1];
    request.file = argv[2];
    request.proxy = std::string("direct");
    const auto started = std::chrono::steady_clock::now();
    const TransferResult result = TransferPackage(request);
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    if (result.outcome.kind != AttemptOutcome::Kind::Succeeded) {
        std::printf("failed: %s\n", result.outcome.reason.c_str());
        return 1;
    }
    WIN32_FILE_ATTRIBUTE_DATA file{};
    GetFileAttributesExW(argv[2], GetFileExInfoStandard, &file);
    const unsigned long long size = (static_cast<unsigned long long>(file.nFileSizeHigh) << 32) | file.nFileSizeLow;
    std::printf("%llu bytes in %lld ms\n", size, static_cast<long long>(took));
    return 0;
}
