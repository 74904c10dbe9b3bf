// Fuzz entry point: any bytes as an archive. Every entry's data is read (bounded) and every
// name judged by the output-path rules of both platforms; then the whole archive goes through
// ExtractArchive into a fresh temporary folder (size and CRC checks, overlap and space checks,
// the read-ahead, file and folder creation), which must write nothing outside it. Built with
// libFuzzer in the fuzz preset, and with replay_main.cpp everywhere else, so that the seed
// corpus runs as an ordinary test.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>

#include "common/text.h"
#include "install/extract/entry_output_path.h"
#include "install/extract/extract_archive.h"
#include "support/memory_stream.h"
#include "zip/zip_archive.h"
#include "zip/zip_archive_entry.h"

namespace {

namespace fs = std::filesystem;

// Enough to pass every decoder's block boundaries while keeping each input fast.
constexpr std::uint64_t kMostBytesPerEntry = std::uint64_t(1) << 20;
constexpr std::uint64_t kMostBytesPerInput = std::uint64_t(4) << 20;
// ExtractArchive writes what it extracts; larger declared totals are left to the reader part.
// Above one bzip2 output window, so that a full window is reached, and small enough to keep
// each input to a few milliseconds.
constexpr std::uint64_t kMostBytesExtracted = std::uint64_t(4) << 20;

std::uint64_t Drain(std::istream& data, std::uint64_t limit) {
    char block[32768];
    std::uint64_t total = 0;
    while (total < limit) {
        const std::streamsize count = data.rdbuf()->sgetn(block, sizeof block);
        if (count <= 0) break;
        total += static_cast<std::uint64_t>(count);
    }
    return total;
}

void ReadEveryEntry(const std::string& bytes, std::uint64_t& declared) {
    auto stream = std::make_unique<MemoryFileStream>(bytes, std::vector<std::size_t>{bytes.size() % 2 ? 7u : 32768u});
    const auto archive = ZipArchive::FromStream(stream.release(), true);
    std::uint64_t budget = kMostBytesPerInput;
    for (std::size_t i = 0; i < archive->EntryCount(); ++i) {
        const auto entry = archive->EntryAt(i);
        declared += entry->UncompressedSize();
        const std::string& name = entry->FullName();
        (void)EntryOutputPath(fs::path("out"), name, entry->NameIsUtf8());
        (void)IsContainedWindowsName(Utf8ToWide(name));
        (void)IsContainedPosixName(name);
        if (budget == 0) continue;
        if (entry->FlagBits() & kFlagEncrypted) entry->SetPassword("fuzz");
        std::istream* content = entry->OpenDataStream();
        if (!content) continue;
        if (entry->OpenDataStream() != nullptr) __builtin_trap();  // a chain is open: must be refused
        budget -= Drain(*content, std::min(budget, kMostBytesPerEntry));
        entry->ReleaseDataStreams();
    }
}

// The temporary folder of this process, made once; each input extracts into a fresh "out" below.
const fs::path& WorkFolder() {
    static const fs::path folder = [] {
        const auto unique = std::chrono::steady_clock::now().time_since_epoch().count();
        const fs::path path = fs::temp_directory_path() / ("qv_fuzz_" + std::to_string(unique));
        fs::create_directories(path);
        return path;
    }();
    return folder;
}

std::wstring WidePath(const fs::path& path) {
#ifdef _WIN32
    return path.wstring();
#else
    return Utf8ToWide(path.string());
#endif
}

void ExtractWhole(const std::string& bytes) {
    const fs::path package = WorkFolder() / "package.zip";
    const fs::path out = WorkFolder() / "out";
    std::error_code ignored;
    fs::remove_all(out, ignored);
    fs::create_directories(out);
    {
        std::ofstream file(package, std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    (void)ExtractArchive(WidePath(package), WidePath(out), {}, {});
    // Nothing but the package and the extraction folder may exist in the work folder.
    for (const auto& item : fs::directory_iterator(WorkFolder()))
        if (item.path() != package && item.path() != out) __builtin_trap();
    fs::remove_all(out, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::uint64_t declared = 0;
    ReadEveryEntry(bytes, declared);
    if (declared <= kMostBytesExtracted) ExtractWhole(bytes);
    return 0;
}
