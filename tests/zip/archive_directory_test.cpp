// The archive directory: the end-record scan, the central directory walk, names and kind bits,
// local headers. Hand-built archives cover the shapes no writer produces.

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

#include "support/test_files.h"
#include "support/zip_builder.h"
#include "zip/zip_archive.h"
#include "zip/zip_archive_entry.h"

namespace {

namespace fs = std::filesystem;

const std::string kEndSignature("PK\x05\x06", 4);

std::vector<std::string> EntryNames(const ZipArchive& archive) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < archive.EntryCount(); ++i) names.push_back(archive.EntryAt(i)->FullName());
    return names;
}

// Every case is read through both sources and must give the same result.
class ArchiveDirectoryTest : public ::testing::TestWithParam<ArchiveSource> {
protected:
    std::shared_ptr<ZipArchive> Open(const std::string& bytes) { return ArchiveFromBytes(bytes, GetParam()); }
};

TEST_P(ArchiveDirectoryTest, LongestCommentIsKeptByteForByte) {
    BuiltArchive built;
    built.entries = {StoredEntry("a.txt", "alpha")};
    built.comment = NoiseBytes(65535, 7);
    const auto archive = Open(BuildZip(built));
    EXPECT_TRUE(archive->Comment() == built.comment);
    EXPECT_EQ(EntryNames(*archive), std::vector<std::string>{"a.txt"});
}

TEST_P(ArchiveDirectoryTest, EndSignatureInsideTheCommentNearestTheEndWins) {
    BuiltArchive real;
    real.entries = {StoredEntry("a.txt", "alpha"), StoredEntry("b.txt", "beta")};
    const std::string plain = BuildZip(real);
    const auto directoryOffset = static_cast<std::uint32_t>(plain.size() - 22 - (46 + 5) * 2);
    // A complete second end record inside the comment: it points at the same directory but
    // claims 77 entries and has no comment of its own.
    const std::string fake = kEndSignature + Le16(0) + Le16(0) + Le16(77) + Le16(77) + Le32(0) + Le32(directoryOffset) + Le16(0);
    real.comment = "before " + fake + " after the fake record";
    auto archive = Open(BuildZip(real));
    EXPECT_EQ(archive->EndRecord().totalEntries, 77);
    EXPECT_EQ(archive->Comment(), "");
    EXPECT_EQ(EntryNames(*archive), (std::vector<std::string>{"a.txt", "b.txt"}));

    // Within the last 18 bytes a signature is never tested, so the real record wins.
    real.comment = "tail " + kEndSignature + "0123456789";
    archive = Open(BuildZip(real));
    EXPECT_EQ(archive->Comment(), real.comment);
    EXPECT_EQ(archive->EndRecord().totalEntries, 2);
}

TEST_P(ArchiveDirectoryTest, FilesThatAreNoArchiveOpenEmpty) {
    const std::string cases[] = {"", "PK", std::string("PK\x05\x06\0\0\0\0\0\0\0\0\0\0\0\0\0", 17), "plain text, not an archive at all\n",
                                 std::string(4096, '\0')};
    for (const auto& bytes : cases) {
        SCOPED_TRACE(bytes.size());
        EXPECT_EQ(Open(bytes)->EntryCount(), 0u);
    }
}

TEST_P(ArchiveDirectoryTest, CentralRecordsAreCountedNotTheEndRecordTotals) {
    BuiltArchive built;
    built.entries = {StoredEntry("one", "1"), StoredEntry("two", "2"), StoredEntry("three", "3")};
    built.totalEntries = 1;
    EXPECT_EQ(Open(BuildZip(built))->EntryCount(), 3u);
    built.totalEntries = 9;
    EXPECT_EQ(Open(BuildZip(built))->EntryCount(), 3u);
}

TEST_P(ArchiveDirectoryTest, CommentRunningPastTheEndLeavesNoEntries) {
    BuiltArchive built;
    built.entries = {StoredEntry("a.txt", "alpha")};
    built.comment = "short";
    built.commentLength = 200;
    EXPECT_EQ(Open(BuildZip(built))->EntryCount(), 0u);
}

TEST_P(ArchiveDirectoryTest, TruncatedDirectoryKeepsTheRecordsBeforeTheDamage) {
    BuiltArchive built;
    built.entries = {StoredEntry("first", "1"), StoredEntry("second", "2"), StoredEntry("third", "3")};
    std::string bytes = BuildZip(built);
    const std::size_t thirdRecord = bytes.size() - 22 - (46 + 5);
    bytes[thirdRecord + 1] = 'X';  // the third central record loses its signature
    EXPECT_EQ(EntryNames(*Open(bytes)), (std::vector<std::string>{"first", "second"}));
}

TEST_P(ArchiveDirectoryTest, NamesAreNormalisedAndInvalidOnesSkipped) {
    BuiltArchive built;
    built.entries = {FolderEntry("dir\\sub\\"), StoredEntry("/abs//path//file.txt", "x"), StoredEntry("", "empty name"),
                     StoredEntry("/", "slash"), StoredEntry("\\\\\\", "backslashes"), StoredEntry("../x", "up")};
    const auto archive = Open(BuildZip(built));
    ASSERT_EQ(EntryNames(*archive), (std::vector<std::string>{"dir/sub/", "abs/path/file.txt", "../x"}));
    EXPECT_TRUE(archive->EntryAt(0)->IsDirectoryEntry());
    EXPECT_EQ(archive->EntryAt(0)->ShortName(), "");
    EXPECT_EQ(archive->EntryAt(1)->ShortName(), "file.txt");
    EXPECT_EQ(archive->EntryAt(2)->ShortName(), "x");
}

TEST_P(ArchiveDirectoryTest, KindBitsFollowTheName) {
    BuiltArchive built;
    BuiltEntry folder = StoredEntry("folder/", "not really empty");
    folder.externalAttributes = 0x30 | 0x01;  // directory and archive bits, and read-only
    BuiltEntry file = StoredEntry("file.txt", "data");
    file.externalAttributes = 0x10;
    built.entries = {folder, file};
    const auto archive = Open(BuildZip(built));
    const auto dir = archive->EntryAt(0);
    EXPECT_TRUE(dir->IsDirectoryEntry());
    EXPECT_EQ(dir->ExternalAttributes(), 0x11u);
    EXPECT_EQ(dir->UncompressedSize(), 0u);
    EXPECT_EQ(dir->CompressedSize(), 0u);
    EXPECT_EQ(dir->StoredCrc32(), 0u);
    const auto plain = archive->EntryAt(1);
    EXPECT_FALSE(plain->IsDirectoryEntry());
    EXPECT_EQ(plain->ExternalAttributes(), 0x20u);
    EXPECT_EQ(plain->UncompressedSize(), 4u);
}

TEST_P(ArchiveDirectoryTest, StrayExtraFieldBytesDoNotDisturbWhatFollows) {
    for (std::size_t stray = 1; stray <= 3; ++stray) {
        SCOPED_TRACE(stray);
        BuiltArchive built;
        BuiltEntry first = StoredEntry("first", "1");
        first.centralExtra = ExtraItem(0x5455, "12345") + std::string(stray, '\x7F');
        first.comment = "first comment";
        BuiltEntry second = StoredEntry("second", "2");
        second.centralExtra = ExtraItem(0xCAFE, "") + ExtraItem(0x0001, std::string(16, '\xFF'));
        built.entries = {first, second};
        const auto archive = Open(BuildZip(built));
        ASSERT_EQ(EntryNames(*archive), (std::vector<std::string>{"first", "second"}));
        const auto a = archive->EntryAt(0);
        ASSERT_EQ(a->ExtraItems().size(), 1u);
        EXPECT_EQ(a->ExtraItems()[0].tag, 0x5455);
        EXPECT_EQ(a->ExtraItems()[0].data, "12345");
        EXPECT_EQ(a->Comment(), "first comment");
        const auto b = archive->EntryAt(1);
        ASSERT_EQ(b->ExtraItems().size(), 2u);
        EXPECT_EQ(b->ExtraItems()[0].data, "");
        EXPECT_EQ(b->ExtraItems()[1].tag, 0x0001);  // kept opaque, never read as ZIP64 sizes
    }
}

TEST_P(ArchiveDirectoryTest, ItemLongerThanItsExtraAreaIsDropped) {
    BuiltArchive built;
    BuiltEntry entry = StoredEntry("a", "1");
    entry.centralExtra = ExtraItem(0x1111, "ok") + Le16(0x2222) + Le16(50) + "short";
    entry.comment = "still read";
    built.entries = {entry, StoredEntry("b", "2")};
    const auto archive = Open(BuildZip(built));
    ASSERT_EQ(archive->EntryCount(), 2u);
    ASSERT_EQ(archive->EntryAt(0)->ExtraItems().size(), 1u);
    EXPECT_EQ(archive->EntryAt(0)->Comment(), "still read");
}

TEST_P(ArchiveDirectoryTest, DataOffsetFollowsTheLocalHeaderOwnLengths) {
    BuiltArchive built;
    BuiltEntry longer = StoredEntry("longer", "LONGER-LOCAL-EXTRA");
    longer.localExtra = ExtraItem(0x7075, std::string(40, 'e'));
    longer.localName = "a-different-local-name";
    BuiltEntry shorter = StoredEntry("shorter", "SHORTER-LOCAL-EXTRA");
    shorter.centralExtra = ExtraItem(0x7075, std::string(60, 'c'));
    built.entries = {longer, shorter};
    const auto archive = Open(BuildZip(built));
    for (std::size_t i = 0; i < 2; ++i) {
        const auto entry = archive->EntryAt(i);
        std::istream* data = entry->OpenDataStream();
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(ReadAll(*data), built.entries[i].payload);
        // The local record keeps its own extra items but takes the central name.
        EXPECT_EQ(entry->LocalRecord().fileName, entry->FullName());
    }
    EXPECT_EQ(archive->EntryAt(0)->LocalRecord().extraItems.size(), 1u);
}

TEST_P(ArchiveDirectoryTest, UnreadableLocalHeaderGivesNoDataStream) {
    BuiltArchive built;
    BuiltEntry broken = StoredEntry("broken", "data");
    broken.brokenLocalSignature = true;
    BuiltEntry elsewhere = StoredEntry("elsewhere", "data");
    elsewhere.localHeaderOffset = 0x00FFFFFF;  // far past the end of the file
    built.entries = {broken, elsewhere, StoredEntry("fine", "fine data")};
    const auto archive = Open(BuildZip(built));
    EXPECT_EQ(archive->EntryAt(0)->OpenDataStream(), nullptr);
    EXPECT_EQ(archive->EntryAt(1)->OpenDataStream(), nullptr);
    std::istream* data = archive->EntryAt(2)->OpenDataStream();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(ReadAll(*data), "fine data");
}

INSTANTIATE_TEST_SUITE_P(BothSources, ArchiveDirectoryTest, ::testing::Values(ArchiveSource::File, ArchiveSource::OddChunks),
                         [](const auto& test_info) { return test_info.param == ArchiveSource::File ? "FileStream" : "OddChunkStream"; });

TEST(ArchiveFile, MissingFileRaisesCannotOpen) {
    TempFolder folder("missing");
    try {
        ZipArchive::OpenFromFile((folder.Path() / "absent.zip").wstring());
        FAIL() << "no exception for a missing file";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Cannot open zip file");
    }
}

TEST(ArchiveFile, NullStreamGivesAnEmptyArchive) {
    const auto archive = ZipArchive::FromStream(nullptr, true);
    ASSERT_NE(archive, nullptr);
    EXPECT_EQ(archive->EntryCount(), 0u);
}

// Archives above 2 GiB: the local header offset is an unsigned 32-bit value. The file is sparse.
TEST(ArchiveFile, LocalHeaderAtOrAbove2GiBIsFound) {
    TempFolder folder("large");
    const fs::path file = folder.Path() / "large.zip";
    const std::uint32_t headerOffset = 0x80000010u;
    BuiltArchive built;
    built.entries = {StoredEntry("high.txt", "stored beyond two gibibytes")};
    const std::string small = BuildZip(built);  // local header at 0; move it up
    const std::size_t localSize = 30 + 8 + built.entries[0].payload.size();
    std::string directory = small.substr(localSize);
    directory.replace(42, 4, Le32(headerOffset));                                      // central: local header offset
    directory.replace(directory.size() - 22 + 16, 4, Le32(headerOffset + static_cast<std::uint32_t>(localSize)));  // end: directory offset
    {
        std::ofstream out(file, std::ios::binary);
        out.seekp(static_cast<std::streamoff>(headerOffset));
        out.write(small.data(), static_cast<std::streamsize>(localSize));
        out.write(directory.data(), static_cast<std::streamsize>(directory.size()));
        ASSERT_TRUE(out.good());
    }
    const auto archive = ZipArchive::OpenFromFile(file.wstring());
    ASSERT_EQ(archive->EntryCount(), 1u);
    EXPECT_EQ(archive->EntryAt(0)->LocalHeaderOffset(), headerOffset);
    std::istream* data = archive->EntryAt(0)->OpenDataStream();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(ReadAll(*data), "stored beyond two gibibytes");
}

}  // namespace
