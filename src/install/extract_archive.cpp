#include "install/extract_archive.h"

#include <zlib.h>

#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/log.h"
#include "install/entry_output_path.h"
#include "install/entry_read_ahead.h"
#include "zip/zip_archive.h"
#include "zip/zip_archive_entry.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kCopyBlock = 32768;
// Output files collect many decoded blocks before each write to the disk.
constexpr std::size_t kOutputBuffer = std::size_t(1) << 20;

enum class EntryOutcome {
    Written,
    Skipped,  // not written; the extraction goes on ("Unable to extract")
    Failed,   // corrupt or unwritable data: the extraction fails
};

// Buffers reused for every file of one extraction.
struct CopyBuffers {
    std::vector<char> block = std::vector<char>(kCopyBlock);
    std::vector<char> output = std::vector<char>(kOutputBuffer);
};

struct CopyResult {
    bool corrupt = false;
    bool writeFailed = false;
};

// Hands out bytes decoded ahead as a stream buffer.
class DecodedBytes : public std::streambuf {
public:
    explicit DecodedBytes(std::string& bytes) { setg(bytes.data(), bytes.data(), bytes.data() + bytes.size()); }
};

// Copies the entry's data into |out|, computing its CRC-32 on the way. Never writes more than the
// stored uncompressed size: a decoder that delivers more marks the entry corrupt.
CopyResult CopyVerified(std::streambuf& source, std::ofstream& out, const ZipArchiveEntry& entry, CopyBuffers& buffers) {
    const std::uint64_t expected = entry.UncompressedSize();
    std::uint64_t written = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    CopyResult result;
    for (;;) {
        const std::uint64_t wanted = std::min<std::uint64_t>(kCopyBlock, expected - written);
        if (wanted == 0) {
            result.corrupt = source.sgetc() != std::char_traits<char>::eof();
            break;
        }
        const std::streamsize count = source.sgetn(buffers.block.data(), static_cast<std::streamsize>(wanted));
        if (count <= 0) {
            result.corrupt = true;  // the data ended before its stored size
            break;
        }
        crc = crc32(crc, reinterpret_cast<const Bytef*>(buffers.block.data()), static_cast<uInt>(count));
        out.write(buffers.block.data(), count);
        written += static_cast<std::uint64_t>(count);
    }
    result.corrupt = result.corrupt || crc != entry.StoredCrc32();
    out.close();
    result.writeFailed = out.fail();
    return result;
}

EntryOutcome ExtractFolder(const fs::path& target) {
    std::error_code error;
    fs::create_directories(target, error);
    return !error && fs::is_directory(target, error) ? EntryOutcome::Written : EntryOutcome::Skipped;
}

EntryOutcome ExtractFile(ZipArchiveEntry& entry, const fs::path& target, CopyBuffers& buffers,
                         std::optional<std::string> decodedAhead) {
    std::istream* const data = decodedAhead ? nullptr : entry.OpenDataStream();
    if (!data && !decodedAhead) return EntryOutcome::Skipped;
    std::unique_ptr<DecodedBytes> ahead = decodedAhead ? std::make_unique<DecodedBytes>(*decodedAhead) : nullptr;
    std::streambuf& source = ahead ? static_cast<std::streambuf&>(*ahead) : *data->rdbuf();
    Log(LogLevel::Note, "Extracting ", entry.FullName());
    std::error_code error;
    fs::create_directories(target.parent_path(), error);  // many writers store no folder entries
    std::ofstream out;
    out.rdbuf()->pubsetbuf(buffers.output.data(), static_cast<std::streamsize>(buffers.output.size()));
    out.open(target, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!out.is_open()) return EntryOutcome::Skipped;
    const CopyResult copy = CopyVerified(source, out, entry, buffers);
    if (!copy.corrupt && !copy.writeFailed) return EntryOutcome::Written;
    fs::remove(target, error);  // nothing corrupt or cut short stays behind
    if (copy.corrupt) {
        Log(LogLevel::Error, "Corrupt entry ", entry.FullName());
    } else {
        Log(LogLevel::Error, "Unable to extract ", entry.FullName());
    }
    return EntryOutcome::Failed;
}

EntryOutcome ExtractEntry(ZipArchiveEntry& entry, const fs::path& folder, CopyBuffers& buffers,
                          std::optional<std::string> decodedAhead) {
    const auto target = EntryOutputPath(folder, entry.FullName(), (entry.FlagBits() & kFlagUtf8Names) != 0);
    EntryOutcome outcome = EntryOutcome::Skipped;
    if (target && entry.IsDirectoryEntry()) outcome = ExtractFolder(*target);
    if (target && !entry.IsDirectoryEntry()) outcome = ExtractFile(entry, *target, buffers, std::move(decodedAhead));
    // Each chain holds buffers and codec state (an LZMA dictionary can be many MiB): free them
    // now, so that memory does not grow with the number of entries.
    entry.ReleaseDataStreams();
    if (outcome == EntryOutcome::Skipped) Log(LogLevel::Warning, "Unable to extract ", entry.FullName());
    return outcome;
}

std::shared_ptr<ZipArchive> OpenPackage(const std::wstring& packagePath) {
    try {
        return ZipArchive::OpenFromFile(packagePath);
    } catch (const std::exception& error) {
        Log(LogLevel::Failure, error.what());
        return nullptr;
    }
}

// A second reader of the same package for the read-ahead; without it the loop decodes alone.
std::shared_ptr<ZipArchive> OpenPackageAgain(const std::wstring& packagePath, std::size_t expectedEntries) {
    try {
        auto archive = ZipArchive::OpenFromFile(packagePath);
        return archive->EntryCount() == expectedEntries ? archive : nullptr;
    } catch (const std::exception&) {
        return nullptr;
    }
}

}  // namespace

ExtractionResult ExtractArchive(const std::wstring& packagePath, const std::wstring& extractionFolder,
                                const ExtractionProgress& progress, const CancelTest& cancelRequested) {
    const std::shared_ptr<ZipArchive> archive = OpenPackage(packagePath);
    if (!archive) return {};
    const auto total = static_cast<std::uint32_t>(archive->EntryCount());
    Log(LogLevel::Note, "Unzipping ", total, " entries");
    const fs::path folder = NativeFolderPath(extractionFolder);
    CopyBuffers buffers;
    EntryReadAhead readAhead(total > 1 ? OpenPackageAgain(packagePath, total) : nullptr);
    for (std::uint32_t i = 0; i < total; ++i) {
        if (ExtractEntry(*archive->EntryAt(i), folder, buffers, readAhead.Take(i)) == EntryOutcome::Failed) return {};
        if (cancelRequested && cancelRequested()) {
            Log(LogLevel::Note, "Canceling extraction...");
            return {i, total};
        }
        if (progress) progress(i + 1, total);
    }
    return {total, total};
}
