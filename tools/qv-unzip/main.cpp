// qv-unzip: lists or extracts a ZIP archive with the installer's own reader and extraction
// routine, for developers and the benchmark.
//   qv-unzip -l ARCHIVE            index, method, sizes, CRC-32, flags and name of every entry
//   qv-unzip ARCHIVE DESTDIR       extract (DESTDIR is created), progress on a terminal
//   qv-unzip --verify KEY.pem ARCHIVE  check the package signature against a public key
//   --log FILE                     write the installation log there

#include <unistd.h>

#include <cstdio>
#include <cxxopts.hpp>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/text.h"
#include "install/extract/extract_archive.h"
#include "zip/printable_name.h"
#include "zip/zip_archive.h"
#include "zip/zip_archive_entry.h"
#include "verify_package.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int Fail(int code, const std::string& message) {
    std::cerr << "qv-unzip: " << message << '\n';
    return code;
}

bool IsReadableFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

int ListEntries(const std::string& archivePath) {
    const auto archive = ZipArchive::OpenFromFile(Utf8ToWide(archivePath));
    std::printf("%5s %6s %10s %10s %8s %6s  %s\n", "index", "method", "packed", "size", "crc32", "flags", "name");
    for (std::size_t i = 0; i < archive->EntryCount(); ++i) {
        const auto entry = archive->EntryAt(i);
        std::printf("%5zu %6u %10llu %10llu %08lx %6.4x  %s\n", i, unsigned(entry->MethodId()),
                    static_cast<unsigned long long>(entry->CompressedSize()),
                    static_cast<unsigned long long>(entry->UncompressedSize()),
                    static_cast<unsigned long>(entry->StoredCrc32()), unsigned(entry->FlagBits()),
                    PrintableName(entry->FullName()).c_str());
    }
    std::printf("%zu entries\n", archive->EntryCount());
    if (archive->Problem() == DirectoryProblem::None) return kExitOk;
    return Fail(kExitFailed, archivePath + " " + DescribeDirectoryProblem(archive->Problem()));
}

int Extract(const std::string& archivePath, const std::string& destination) {
    std::error_code error;
    std::filesystem::create_directories(destination, error);
    if (error) return Fail(kExitFailed, "cannot create " + destination + ": " + error.message());
    const bool terminal = isatty(STDERR_FILENO) != 0;
    const auto progress = [terminal](std::uint32_t done, std::uint32_t total) {
        if (terminal && (done == total || done % 64 == 0)) std::fprintf(stderr, "\r%u/%u entries", done, total);
    };
    const ExtractionResult result = ExtractArchive(Utf8ToWide(archivePath), Utf8ToWide(destination), progress, {});
    if (terminal && result.total > 0) std::fputc('\n', stderr);
    if (result.total == 0 || result.extracted != result.total)
        return Fail(kExitFailed, "extraction of " + archivePath + " failed (see --log for the reason)");
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    cxxopts::Options options("qv-unzip", "Lists or extracts a ZIP archive with the installer's reader.");
    options.add_options()("l,list", "List the entries")(
        "verify", "Check ARCHIVE's package signature against the public key in KEY.pem", cxxopts::value<std::string>(),
        "KEY.pem")("log", "Write the installation log to FILE", cxxopts::value<std::string>())(
        "h,help", "Show this help")("paths", "ARCHIVE [DESTDIR]", cxxopts::value<std::vector<std::string>>());
    options.parse_positional({"paths"});
    options.positional_help("ARCHIVE [DESTDIR]");
    try {
        const auto parsed = options.parse(argc, argv);
        if (parsed.count("help")) {
            std::cout << options.help() << '\n';
            return kExitOk;
        }
        const auto paths =
            parsed.count("paths") ? parsed["paths"].as<std::vector<std::string>>() : std::vector<std::string>{};
        const bool list = parsed.count("list") > 0;
        const bool verify = parsed.count("verify") > 0;
        if (list && verify) return Fail(kExitUsage, "-l and --verify do not go together");
        if (paths.size() != (list || verify ? 1u : 2u))
            return Fail(kExitUsage, list     ? "-l takes one ARCHIVE"
                                    : verify ? "--verify KEY.pem takes one ARCHIVE"
                                             : "expected ARCHIVE DESTDIR (or -l ARCHIVE); see --help");
        if (!IsReadableFile(paths[0])) return Fail(kExitFailed, "cannot open " + paths[0] + ": no such file");
        if (parsed.count("log")) OpenLog(Utf8ToWide(parsed["log"].as<std::string>()));
        if (verify) return VerifyPackageFile(parsed["verify"].as<std::string>(), paths[0]);
        return list ? ListEntries(paths[0]) : Extract(paths[0], paths[1]);
    } catch (const cxxopts::exceptions::exception& error) {
        return Fail(kExitUsage, std::string(error.what()) + "; see --help");
    } catch (const std::exception& error) {
        return Fail(kExitFailed, error.what());
    }
}
