// Entries made again from their central records: in any order, across checkpoints and passed-over
// records; entries handed out that keep state stay the same; spans out of directory order.

#include <gtest/gtest.h>

#include "support/test_files.h"
#include "support/zip_builder.h"
#include "zip/directory_walk.h"
#include "zip/entry_spans.h"
#include "zip/zip_archive.h"
#include "zip/zip_archive_entry.h"

namespace {

// 300 entries (several checkpoints apart), every 50th record before them without a usable name.
BuiltArchive ManyEntries() {
    BuiltArchive built;
    for (int i = 0; i < 300; ++i) {
        if (i % 50 == 7) built.entries.push_back(StoredEntry("//", ""));
        built.entries.push_back(StoredEntry("e" + std::to_string(i), std::to_string(i * 7)));
    }
    return built;
}

TEST(DirectoryWalk, AnyOrderGivesTheEntriesOfTheDirectory) {
    const struct {
        const char* order;
        std::vector<std::size_t> indices;
    } table[] = {
        {"backwards across checkpoints", {299, 200, 130, 129, 128, 64, 63, 1, 0}},
        {"forward jumps", {0, 63, 64, 65, 191, 192, 299}},
        {"the same twice, then back", {70, 70, 71, 5}},
    };
    for (const ArchiveSource source : {ArchiveSource::File, ArchiveSource::OddChunks}) {
        const auto archive = ArchiveFromBytes(BuildZip(ManyEntries()), source);
        ASSERT_EQ(archive->EntryCount(), 300u);
        EXPECT_EQ(archive->UnnamedRecords(), 6u);
        DirectoryWalk walk(*archive);
        for (const auto& row : table) {
            SCOPED_TRACE(std::string(row.order) + ", " + ToString(source));
            for (const std::size_t index : row.indices) {
                const auto entry = walk.Read(index);
                EXPECT_EQ(entry->FullName(), "e" + std::to_string(index));
                EXPECT_EQ(entry->UncompressedSize(), std::to_string(index * 7).size());
                EXPECT_EQ(archive->EntryAt(index)->FullName(), entry->FullName());
            }
        }
        EXPECT_THROW(walk.Read(300), std::out_of_range);
        EXPECT_THROW(archive->EntryAt(300), std::out_of_range);
    }
}

TEST(DirectoryWalk, HeldOrPasswordedEntriesStayTheSameObject) {
    BuiltArchive built = ManyEntries();
    BuiltEntry secret = StoredEntry("secret", "hidden words");
    secret.flags = 0x0001;
    secret.payload = PkwareEncrypt("pw", std::string(11, 'h') + static_cast<char>(secret.crc >> 24), secret.payload);
    built.entries.insert(built.entries.begin(), secret);
    const auto archive = ArchiveFromBytes(BuildZip(built));
    archive->EntryAt(0)->SetPassword("pw");
    const auto held = archive->EntryAt(5);
    for (std::size_t i = 1; i < archive->EntryCount(); ++i) EXPECT_FALSE(archive->EntryAt(i)->FullName().empty());
    EXPECT_EQ(archive->EntryAt(5).get(), held.get());
    std::istream* data = archive->EntryAt(0)->OpenDataStream();
    ASSERT_NE(data, nullptr) << "the password was kept";
    EXPECT_EQ(ReadAll(*data), "hidden words");
}

// Each entry is a stored "1234" of a one-letter name: its local record takes 35 bytes.
TEST(DirectoryWalk, SpansOutOfDirectoryOrderAreSortedFirst) {
    constexpr std::uint32_t kA = 0, kB = 35, kC = 70;
    const struct {
        const char* shape;
        std::vector<std::optional<std::uint32_t>> offsets;  // where each record points, if not at its own
        std::optional<std::size_t> first, second;
    } table[] = {
        {"in order", {}, {}, {}},
        {"two records swapped", {kB, kA}, {}, {}},
        {"three records rotated", {kC, kA, kB}, {}, {}},
        {"in-order pair, but a later one starts first", {kA, kB, kB, kA}, 0, 3},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.shape);
        BuiltArchive built;
        for (const char* name : {"a", "b", "c", "d"}) built.entries.push_back(StoredEntry(name, "1234"));
        for (std::size_t i = 0; i < row.offsets.size(); ++i) built.entries[i].localHeaderOffset = row.offsets[i];
        const auto archive = ArchiveFromBytes(BuildZip(built));
        std::vector<std::size_t> visited;
        const auto overlap = FindOverlappingEntries(
            *archive, [&](std::size_t index, const ZipArchiveEntry&) { visited.push_back(index); });
        EXPECT_EQ(visited, (std::vector<std::size_t>{0, 1, 2, 3}));
        EXPECT_EQ(overlap.has_value(), row.first.has_value());
        if (overlap && row.first) {
            EXPECT_EQ(overlap->first, *row.first);
            EXPECT_EQ(overlap->second, row.second);
        }
    }
}

}  // namespace
