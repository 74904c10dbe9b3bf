#include "install/extract/extract_archive.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "common/log.h"
#include "common/text.h"
#include "install/extract/entry_output_path.h"
#include "install/extract/entry_read_ahead.h"
#include "zip/directory_walk.h"
#include "zip/entry_spans.h"
#include "zip/printable_name.h"
#include "zip/scratch_buffer.h"
#include "zip/zip_archive.h"
#include "zip/zip_archive_entry.h"

namespace {

namespace fs = std::filesystem;

// Decoded data collects in one large buffer that goes to the disk in one write, without a
// second copy through the file stream's own buffer. The cancel test runs once per buffer.
constexpr std::size_t kOutputBuffer = std::size_t(1) << 20;

enum class EntryOutcome {
    Written,
    NotWritten,  // logged with its reason; the extraction goes on, then fails
    Corrupt,     // corrupt or unwritable data: the extraction stops and fails
    Cancelled,   // the user cancelled within the entry; its file is removed
};

struct Extraction {
    fs::path folder;
    ScratchBuffer buffer = ScratchBuffer(kOutputBuffer);
    const CancelTest& cancelRequested;

    bool Cancelled() const { return cancelRequested && cancelRequested(); }
};

// Hands out bytes decoded ahead as a stream buffer.
class DecodedBytes : public std::streambuf {
public:
    explicit DecodedBytes(std::string& bytes) { setg(bytes.data(), bytes.data(), bytes.data() + bytes.size()); }
};

std::string Hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

EntryOutcome NotWritten(const ZipArchiveEntry& entry, const std::string& reason) {
    Log(LogLevel::Error, "Unable to extract ", PrintableName(entry.FullName()), ": ", reason);
    return EntryOutcome::NotWritten;
}

EntryOutcome Corrupt(const ZipArchiveEntry& entry, const std::string& what, const std::string& expected,
                     const std::string& found) {
    Log(LogLevel::Error, "Corrupt entry ", PrintableName(entry.FullName()), ": ", what, " ", expected, " expected, ",
        found, " found");
    return EntryOutcome::Corrupt;
}

std::string ErrnoText(int error) { return std::generic_category().message(error); }

// Copies the entry's data into |out| (unbuffered), computing its CRC-32 on the way. Never writes
// more than the stored uncompressed size: data that goes on past it is corrupt.
EntryOutcome CopyVerified(std::streambuf& source, std::ofstream& out, const ZipArchiveEntry& entry, Extraction& run) {
    const std::uint64_t expected = entry.UncompressedSize();
    char* const buffer = run.buffer.data();
    std::uint64_t delivered = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    bool longer = false;
    for (;;) {
        if (delivered == expected) {
            longer = source.sgetc() != std::char_traits<char>::eof();
            break;
        }
        const auto wanted = static_cast<std::streamsize>(std::min<std::uint64_t>(kOutputBuffer, expected - delivered));
        std::streamsize filled = 0;
        while (filled < wanted) {
            const std::streamsize count = source.sgetn(buffer + filled, wanted - filled);
            if (count <= 0) break;
            filled += count;
        }
        crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer), static_cast<uInt>(filled));
        delivered += static_cast<std::uint64_t>(filled);
        out.write(buffer, filled);
        if (filled < wanted) break;  // the data ended before its stored size
        if (delivered < expected && run.Cancelled()) return EntryOutcome::Cancelled;
    }
    out.close();
    if (out.fail()) {
        Log(LogLevel::Error, "Unable to extract ", PrintableName(entry.FullName()), ": writing the file failed");
        return EntryOutcome::Corrupt;
    }
    if (delivered != expected || longer) {
        return Corrupt(entry, "size", std::to_string(expected), longer ? "more" : std::to_string(delivered));
    }
    if (crc != entry.StoredCrc32())
        return Corrupt(entry, "CRC-32", Hex32(entry.StoredCrc32()), Hex32(static_cast<std::uint32_t>(crc)));
    return EntryOutcome::Written;
}

// Why the entry's data cannot be read, or empty when it can.
std::optional<std::string> UnreadableReason(ZipArchiveEntry& entry) {
    if (auto reason = entry.UnreadableReason()) return reason;
    if (!entry.DataOffset()) return "its local header is missing or damaged";
    return std::nullopt;
}

EntryOutcome ExtractFolder(const ZipArchiveEntry& entry, const fs::path& target) {
    std::error_code error;
    fs::create_directories(target, error);
    if (!error && fs::is_directory(target, error)) return EntryOutcome::Written;
    return NotWritten(
        entry, "the folder cannot be created (" + (error ? error.message() : std::string("a file has its name")) + ")");
}

EntryOutcome ExtractFile(ZipArchiveEntry& entry, const fs::path& target, Extraction& run,
                         std::optional<std::string> decodedAhead) {
    // A helper that decoded the entry found its local header sound: it is not read a third time.
    const auto reason = decodedAhead ? entry.UnreadableReason() : UnreadableReason(entry);
    if (reason) return NotWritten(entry, *reason);
    std::istream* const data = decodedAhead ? nullptr : entry.OpenDataStream();
    if (!data && !decodedAhead) return NotWritten(entry, "its data cannot be read");
    std::unique_ptr<DecodedBytes> ahead = decodedAhead ? std::make_unique<DecodedBytes>(*decodedAhead) : nullptr;
    std::streambuf& source = ahead ? static_cast<std::streambuf&>(*ahead) : *data->rdbuf();
    Log(LogLevel::Note, "Extracting ", PrintableName(entry.FullName()));
    std::error_code error;
    fs::create_directories(target.parent_path(), error);  // many writers store no folder entries
    std::ofstream out;
    out.rdbuf()->pubsetbuf(nullptr, 0);  // CopyVerified hands over whole megabytes
    errno = 0;
    out.open(target, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!out.is_open()) {
        const int openError = errno;
        return NotWritten(
            entry, "the file cannot be created" + (openError ? " (" + ErrnoText(openError) + ")" : std::string()));
    }
    const EntryOutcome outcome = CopyVerified(source, out, entry, run);
    if (outcome != EntryOutcome::Written) {
        if (out.is_open()) out.close();  // Windows removes no open file
        fs::remove(target, error);       // nothing corrupt or cut short stays behind
    }
    return outcome;
}

EntryOutcome ExtractEntry(ZipArchiveEntry& entry, Extraction& run, std::optional<std::string> decodedAhead) {
    const auto target =
        entry.HadAbsoluteName() ? std::nullopt : EntryOutputPath(run.folder, entry.FullName(), entry.NameIsUtf8());
    EntryOutcome outcome = EntryOutcome::NotWritten;
    if (!target) {
        outcome = NotWritten(entry, "its name leads out of the extraction folder or names a device");
    } else if (entry.IsDirectoryEntry()) {
        outcome = ExtractFolder(entry, *target);
    } else {
        outcome = ExtractFile(entry, *target, run, std::move(decodedAhead));
    }
    // Each chain holds buffers and codec state (an LZMA dictionary can be many MiB): free them
    // now, so that memory does not grow with the number of entries.
    entry.ReleaseDataStreams();
    return outcome;
}

std::string FileNameOf(const std::wstring& packagePath) {
    return WideToUtf8(NativeFolderPath(packagePath).filename().wstring());
}

std::shared_ptr<ZipArchive> OpenPackage(const std::wstring& packagePath) {
    try {
        return ZipArchive::OpenFromFile(packagePath);
    } catch (const std::exception& error) {
        Log(LogLevel::Failure, error.what());
        return nullptr;
    }
}

// Another reader of the package for a read-ahead helper; without any the loop decodes alone.
std::unique_ptr<std::istream> OpenSecondReader(const std::wstring& packagePath) {
    auto file = std::make_unique<std::ifstream>(NativeFolderPath(packagePath), std::ios::in | std::ios::binary);
    if (!file->is_open()) return nullptr;
    return file;
}

// Checks that must pass before anything is written; false (logged) when one fails. One walk
// over the directory reads every local header: for the spans, the ZIP64 sizes and the space.
bool PackageIsSound(ZipArchive& archive, const std::string& packageName, const fs::path& folder) {
    if (archive.UnnamedRecords() > 0) {
        Log(LogLevel::Error, "Unable to extract ", archive.UnnamedRecords(), " entries of ", packageName,
            ": they have no usable name");
        return false;
    }
    std::optional<std::size_t> disagreeing;  // the first entry whose local ZIP64 sizes disagree
    std::uint64_t needed = 0;
    const auto overlap = FindOverlappingEntries(archive, [&](std::size_t index, const ZipArchiveEntry& entry) {
        if (entry.LocalSizesDisagree() && !disagreeing) disagreeing = index;
        // Declared sizes can add up past 64 bits; such a package needs more than any drive has.
        needed = entry.UncompressedSize() > UINT64_MAX - needed ? UINT64_MAX : needed + entry.UncompressedSize();
    });
    if (overlap) {
        const std::string first = PrintableName(archive.EntryAt(overlap->first)->FullName());
        const std::string second =
            overlap->second ? PrintableName(archive.EntryAt(*overlap->second)->FullName()) : "the central directory";
        Log(LogLevel::Error, "Corrupt package ", packageName, ": entries share bytes (", first, " and ", second, ")");
        return false;
    }
    if (disagreeing) {
        Log(LogLevel::Error, "Corrupt package ", packageName, ": the ZIP64 sizes in the local header of ",
            PrintableName(archive.EntryAt(*disagreeing)->FullName()), " disagree with the central directory");
        return false;
    }
    std::error_code error;
    const fs::space_info space = fs::space(folder, error);
    if (!error && space.available < needed) {
        Log(LogLevel::Error, "Not enough free space to extract ", packageName, ": ", needed, " bytes needed, ",
            static_cast<std::uint64_t>(space.available), " bytes free");
        return false;
    }
    return true;
}

ExtractionResult ExtractEntries(const std::wstring& packagePath, const fs::path& folder,
                                const ExtractionProgress& progress, const CancelTest& cancelRequested) {
    const std::shared_ptr<ZipArchive> archive = OpenPackage(packagePath);
    if (!archive) return {};
    const std::string packageName = FileNameOf(packagePath);
    if (archive->Problem() != DirectoryProblem::None) {
        Log(LogLevel::Error, packageName, " ", DescribeDirectoryProblem(archive->Problem()));
        return {};
    }
    const auto total = static_cast<std::uint32_t>(archive->EntryCount());
    Log(LogLevel::Note, "Unzipping ", total, " entries");
    if (!PackageIsSound(*archive, packageName, folder)) return {};
    Extraction run{folder, ScratchBuffer(kOutputBuffer), cancelRequested};
    EntryReadAhead readAhead(archive, [&packagePath] { return OpenSecondReader(packagePath); });
    // Entries are made again from their central records, one at a time, and dropped after.
    DirectoryWalk directory(*archive);
    std::uint32_t notWritten = 0;
    for (std::uint32_t i = 0; i < total; ++i) {
        const EntryOutcome outcome = ExtractEntry(*directory.Read(i), run, readAhead.Take(i));
        if (outcome == EntryOutcome::Corrupt) return {};
        if (outcome == EntryOutcome::NotWritten) ++notWritten;
        if (outcome == EntryOutcome::Cancelled || run.Cancelled()) {
            Log(LogLevel::Note, "Canceling extraction...");
            return {i, total};
        }
        if (progress) progress(i + 1, total);
    }
    if (notWritten > 0) {
        Log(LogLevel::Error, "Unable to extract ", notWritten, " of ", total, " entries of ", packageName);
        return {};
    }
    return {total, total};
}

}  // namespace

ExtractionResult ExtractArchive(const std::wstring& packagePath, const std::wstring& extractionFolder,
                                const ExtractionProgress& progress, const CancelTest& cancelRequested) {
    try {
        return ExtractEntries(packagePath, NativeFolderPath(extractionFolder), progress, cancelRequested);
    } catch (const std::exception& error) {  // for instance no memory left: a clean failure
        Log(LogLevel::Error, "Extraction failed: ", error.what());
        return {};
    }
}
