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

// Decoded data collects in one large buffer that goes to the disk in one write, without a
// second copy through the file stream's own buffer.
constexpr std::size_t kOutputBuffer = std::size_t(1) << 20;

enum class EntryOutcome {
    Written,
    Skipped,  // not written; the extraction goes on ("Unable to extract")
    Failed,   // corrupt or unwritable data: the extraction fails
};

// The buffer reused for every file of one extraction.
struct CopyBuffers {
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

// Copies the entry's data into |out| (unbuffered), computing its CRC-32 on the way. Never writes
// more than the stored uncompressed size: a decoder that delivers more marks the entry corrupt.
CopyResult CopyVerified(std::streambuf& source, std::ofstream& out, const ZipArchiveEntry& entry, CopyBuffers& buffers) {
    const std::uint64_t expected = entry.UncompressedSize();
    char* const buffer = buffers.output.data();
    std::uint64_t delivered = 0;
    std::size_t filled = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    CopyResult result;
    for (;;) {
        if (delivered == expected) {
            result.corrupt = source.sgetc() != std::char_traits<char>::eof();
            break;
        }
        const auto wanted = static_cast<std::streamsize>(std::min<std::uint64_t>(kOutputBuffer - filled, expected - delivered));
        const std::streamsize count = source.sgetn(buffer + filled, wanted);
        if (count <= 0) {
            result.corrupt = true;  // the data ended before its stored size
            break;
        }
        crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer + filled), static_cast<uInt>(count));
        filled += static_cast<std::size_t>(count);
        delivered += static_cast<std::uint64_t>(count);
        if (filled == kOutputBuffer) {
            out.write(buffer, static_cast<std::streamsize>(filled));
            filled = 0;
        }
    }
    if (filled > 0) out.write(buffer, static_cast<std::streamsize>(filled));
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
    out.rdbuf()->pubsetbuf(nullptr, 0);  // CopyVerified hands over whole megabytes
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
