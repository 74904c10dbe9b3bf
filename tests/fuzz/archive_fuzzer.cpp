// Fuzz entry point: any bytes as an archive, every entry's data read (bounded) and every name
// judged as an output path. Built with libFuzzer in the fuzz preset, and with replay_main.cpp
// everywhere else, so that the seed corpus runs as an ordinary test.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "install/entry_output_path.h"
#include "support/memory_stream.h"
#include "zip/zip_archive.h"
#include "zip/zip_archive_entry.h"

namespace {

// Enough to pass every decoder's block boundaries while keeping each input fast.
constexpr std::uint64_t kMostBytesPerEntry = std::uint64_t(1) << 20;
constexpr std::uint64_t kMostBytesPerInput = std::uint64_t(8) << 20;

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto stream = std::make_unique<MemoryFileStream>(std::string(reinterpret_cast<const char*>(data), size),
                                                     std::vector<std::size_t>{size % 2 ? 7u : 32768u});
    const auto archive = ZipArchive::FromStream(stream.release(), true);
    std::uint64_t budget = kMostBytesPerInput;
    for (std::size_t i = 0; i < archive->EntryCount() && budget > 0; ++i) {
        const auto entry = archive->EntryAt(i);
        (void)EntryOutputPath(std::filesystem::path("out"), entry->FullName(), (entry->FlagBits() & kFlagUtf8Names) != 0);
        if (entry->FlagBits() & kFlagEncrypted) entry->SetPassword("fuzz");
        std::istream* content = entry->OpenDataStream();
        if (!content) continue;
        if (entry->OpenDataStream() != nullptr) __builtin_trap();  // a chain is open: must be refused
        budget -= Drain(*content, std::min(budget, kMostBytesPerEntry));
        entry->ReleaseDataStreams();
    }
    return 0;
}
