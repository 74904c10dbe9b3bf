// The archive directory: the end-record scan, the central directory walk, names and kind bits,
// local headers. Hand-built archives cover the shapes no writer produces.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "scratch_folder.h"
#include "support/test_files.h"
#include "support/zip_builder.h"
#include "zip/end_record.h"
#include "zip/entry_spans.h"
#include "zip/zip_archive.h"
#include "zip/zip_archive_entry.h"

namespace {

namespace fs = std::filesystem;

const std::string kEndSignature("PK\x05\x06", 4);

std::vector<std::string> EntryNames(ZipArchive& archive) {
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

// A signature inside the comment is not the end record: its own comment would not end the file.
TEST_P(ArchiveDirectoryTest, EndSignatureInsideTheCommentIsPassedOver) {
    BuiltArchive real;
    real.entries = {StoredEntry("a.txt", "alpha"), StoredEntry("b.txt", "beta")};
    const std::string plain = BuildZip(real);
    const auto directoryOffset = static_cast<std::uint32_t>(plain.size() - 22 - (46 + 5) * 2);
    // A complete second end record inside the comment: it points at the same directory but
    // claims 77 entries and has no comment of its own.
    const std::string fake =
        kEndSignature + Le16(0) + Le16(0) + Le16(77) + Le16(77) + Le32(0) + Le32(directoryOffset) + Le16(0);
    const struct {
        const char* shape;
        std::string comment;
    } table[] = {
        {"complete fake record in the middle", "before " + fake + " after the fake record"},
        {"bare signature near the end", "tail " + kEndSignature + "0123456789"},
        {"signature in the last 18 bytes", "tail " + kEndSignature + "01234"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.shape);
        real.comment = row.comment;
        const std::string bytes = BuildZip(real);
        const auto archive = Open(bytes);
        EXPECT_EQ(archive->Comment(), row.comment);
        EXPECT_EQ(archive->EndRecord().totalEntries, 2);
        EXPECT_EQ(EntryNames(*archive), (std::vector<std::string>{"a.txt", "b.txt"}));
        EXPECT_EQ(archive->Problem(), DirectoryProblem::None);
        std::istringstream stream(bytes, std::ios::binary);
        const auto location = FindEndRecord(stream);
        ASSERT_TRUE(location.has_value());
        EXPECT_EQ(location->offset, static_cast<std::streamoff>(bytes.size() - 22 - row.comment.size()));
    }
}

// Comments whose end record lies at the far edge of the part of the file the scan must search.
TEST_P(ArchiveDirectoryTest, LongCommentsNearTheLimitAreFound) {
    for (std::size_t length : {65532u, 65533u, 65534u, 65535u}) {
        SCOPED_TRACE(length);
        BuiltArchive built;
        built.entries = {StoredEntry("a.txt", "alpha")};
        built.comment = std::string(length - 30, 'c') + kEndSignature + std::string(26, 'd');
        const auto archive = Open(BuildZip(built));
        EXPECT_TRUE(archive->Comment() == built.comment);
        EXPECT_EQ(EntryNames(*archive), std::vector<std::string>{"a.txt"});
    }
}

// Bytes appended after the archive: no record ends the file, so the nearest complete one counts.
TEST_P(ArchiveDirectoryTest, DataAfterTheEndRecordStillOpens) {
    for (std::size_t trailer : {1u, 100u, 70000u}) {
        SCOPED_TRACE(trailer);
        BuiltArchive built;
        built.entries = {StoredEntry("a.txt", "alpha")};
        built.comment = "c";
        built.trailer = std::string(trailer, 't');
        const auto archive = Open(BuildZip(built));
        EXPECT_EQ(EntryNames(*archive), std::vector<std::string>{"a.txt"});
        EXPECT_EQ(archive->Comment(), "c");
    }
}

// Data in front (a stub) whose offsets were not adjusted: every offset moves by the same shift.
TEST_P(ArchiveDirectoryTest, DataInFrontIsSkippedWhetherOrNotTheOffsetsCountIt) {
    for (std::size_t prefix : {1u, 1000u, 70001u}) {
        for (bool adjusted : {false, true}) {
            SCOPED_TRACE(std::to_string(prefix) + (adjusted ? " adjusted" : " not adjusted"));
            BuiltArchive built;
            built.prefix = NoiseBytes(prefix, 3);
            built.offsetsCountPrefix = adjusted;
            built.entries = {DeflatedEntry("a.txt", SampleText(5000)), StoredEntry("b.bin", NoiseBytes(3000, 4))};
            const auto archive = Open(BuildZip(built));
            ASSERT_EQ(EntryNames(*archive), (std::vector<std::string>{"a.txt", "b.bin"}));
            EXPECT_EQ(archive->OffsetShift(), adjusted ? 0 : static_cast<std::streamoff>(prefix));
            EXPECT_EQ(archive->Problem(), DirectoryProblem::None);
            for (std::size_t i = 0; i < 2; ++i) {
                std::istream* data = archive->EntryAt(i)->OpenDataStream();
                ASSERT_NE(data, nullptr);
                EXPECT_TRUE(Crc32Of(ReadAll(*data)) == built.entries[i].crc);
            }
        }
    }
}

// Why a directory cannot be read whole, for the extraction's log.
TEST_P(ArchiveDirectoryTest, DirectoryProblemsAreNamed) {
    BuiltArchive built;
    built.entries = {StoredEntry("first", "1"), StoredEntry("second", NoiseBytes(5000, 1)), StoredEntry("third", "3")};
    const std::string whole = BuildZip(built);
    std::string brokenRecord = whole;
    brokenRecord[whole.size() - 22 - (46 + 5) + 1] = 'X';
    const struct {
        const char* shape;
        std::string bytes;
        DirectoryProblem problem;
    } table[] = {
        {"whole", whole, DirectoryProblem::None},
        {"plain text", "plain text, not an archive at all\n", DirectoryProblem::NotAnArchive},
        {"empty file", "", DirectoryProblem::NotAnArchive},
        {"download cut in the data", whole.substr(0, 3000), DirectoryProblem::EndsBeforeDirectory},
        {"download cut in the directory", whole.substr(0, whole.size() - 40), DirectoryProblem::EndsBeforeDirectory},
        {"directory record broken", brokenRecord, DirectoryProblem::DamagedDirectory},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.shape);
        EXPECT_EQ(Open(row.bytes)->Problem(), row.problem);
    }
}

// Only the low byte of "version needed to extract" is the version; the high byte names a host.
TEST_P(ArchiveDirectoryTest, VersionNeededIsItsLowByte) {
    const struct {
        std::uint16_t versionNeeded;
        bool opens;
    } table[] = {{0x0014, true}, {0x0314, true},  {0x032E, true}, {0x033F, true},
                 {0x0A3F, true}, {0x0040, false}, {0x0340, false}};
    for (const auto& row : table) {
        SCOPED_TRACE(row.versionNeeded);
        BuiltArchive built;
        BuiltEntry entry = StoredEntry("v.txt", "versioned");
        entry.versionNeeded = row.versionNeeded;
        built.entries = {entry};
        const auto archive = Open(BuildZip(built));
        std::istream* data = archive->EntryAt(0)->OpenDataStream();
        EXPECT_EQ(data != nullptr, row.opens);
        if (data) {
            EXPECT_EQ(ReadAll(*data), "versioned");
        }
    }
}

// A zero-length entry with the MS-DOS directory attribute from an MS-DOS or Windows host is a
// folder, though its name has no trailing slash.
TEST_P(ArchiveDirectoryTest, FoldersMarkedOnlyByTheirAttribute) {
    const struct {
        std::uint16_t madeBy;
        std::uint32_t attributes;
        std::string payload;
        bool folder;
    } table[] = {
        {0x0014, 0x10, "", true},  {0x0A3F, 0x10, "", true},      {0x0E14, 0x30, "", true},  {0x0314, 0x10, "", false},
        {0x0014, 0x20, "", false}, {0x0014, 0x10, "data", false}, {0x0714, 0x10, "", false},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(std::to_string(row.madeBy) + " " + std::to_string(row.attributes) + " " + row.payload);
        BuiltArchive built;
        BuiltEntry entry = StoredEntry("Program Files", row.payload);
        entry.versionMadeBy = row.madeBy;
        entry.externalAttributes = row.attributes;
        built.entries = {entry};
        const auto archive = Open(BuildZip(built));
        EXPECT_EQ(archive->EntryAt(0)->IsDirectoryEntry(), row.folder);
        EXPECT_EQ(archive->EntryAt(0)->FullName(), row.folder ? "Program Files/" : "Program Files");
    }
}

// Entries whose bytes overlap each other or the directory.
TEST_P(ArchiveDirectoryTest, OverlappingEntriesAreFound) {
    BuiltArchive built;
    built.entries = {DeflatedEntry("a", SampleText(20000)), StoredEntry("b", "bee"), StoredEntry("c", "sea")};
    EXPECT_FALSE(FindOverlappingEntries(*Open(BuildZip(built))).has_value());

    BuiltArchive same = built;
    same.entries[2].localHeaderOffset = 0;  // c's record points at a's local header
    auto overlap = FindOverlappingEntries(*Open(BuildZip(same)));
    ASSERT_TRUE(overlap.has_value());
    EXPECT_EQ(overlap->second.value_or(99) + overlap->first, 2u);  // a (0) and c (2)

    BuiltArchive intoDirectory = built;
    intoDirectory.entries[1].payload = "bee";
    BuiltEntry& last = intoDirectory.entries[2];
    last.payload = "sea";
    const std::string bytes = BuildZip(intoDirectory);
    std::string grown = bytes;
    // c's compressed size reaches into the directory that follows it.
    const std::size_t cRecord = bytes.size() - 22 - (46 + 1);
    grown.replace(cRecord + 20, 4, Le32(40));
    overlap = FindOverlappingEntries(*Open(grown));
    ASSERT_TRUE(overlap.has_value());
    EXPECT_EQ(overlap->first, 2u);
    EXPECT_FALSE(overlap->second.has_value());
}

TEST_P(ArchiveDirectoryTest, FilesThatAreNoArchiveOpenEmpty) {
    const std::string cases[] = {"", "PK", std::string("PK\x05\x06\0\0\0\0\0\0\0\0\0\0\0\0\0", 17),
                                 "plain text, not an archive at all\n", std::string(4096, '\0')};
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
                     StoredEntry("/", "slash"), StoredEntry("\\\\\\", "backslashes"),     StoredEntry("../x", "up")};
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

// The name an entry goes by: a Unicode Path field counts only as version 1, with the CRC-32 of
// the stored name and valid UTF-8; the name rules then apply to it.
TEST_P(ArchiveDirectoryTest, UnicodePathFieldNamesTheEntryWhenItMatches) {
    const std::string cp437("\x99lf\x84sser.txt");
    const auto field = [](std::uint8_t version, const std::string& stored, const std::string& utf8) {
        return ExtraItem(0x7075, std::string(1, char(version)) + Le32(Crc32Of(stored)) + utf8);
    };
    const struct {
        const char* shape;
        std::string extra;
        std::string name;
        bool utf8;
    } table[] = {
        {"matching field", field(1, cp437, "\xC3\x96lf\xC3\xA4sser.txt"), "\xC3\x96lf\xC3\xA4sser.txt", true},
        {"field of a renamed entry", field(1, "old.txt", "\xC3\x96l.txt"), cp437, false},
        {"field of another version", field(2, cp437, "v2.txt"), cp437, false},
        {"field that is not UTF-8", field(1, cp437, "\xC0\xAF.txt"), cp437, false},
        {"field naming a folder path", field(1, cp437, "\\dir\\x.txt"), "dir/x.txt", true},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.shape);
        BuiltArchive built;
        built.entries = {StoredEntry(cp437, "data")};
        built.entries[0].centralExtra = row.extra;
        const auto archive = Open(BuildZip(built));
        ASSERT_EQ(archive->EntryCount(), 1u);
        EXPECT_EQ(archive->EntryAt(0)->FullName(), row.name);
        EXPECT_EQ(archive->EntryAt(0)->NameIsUtf8(), row.utf8);
    }
}

// A whole small archive in the comment, its end record ending the file: the outer archive's
// record needs no shift and wins; the inner one is taken only where the outer one is unusable.
TEST_P(ArchiveDirectoryTest, EndRecordNeedingNoShiftWinsOverOneInTheComment) {
    BuiltArchive inner;
    inner.entries = {StoredEntry("inner.txt", "in the comment")};
    BuiltArchive outer;
    outer.entries = {StoredEntry("outer.txt", "the real one"), DeflatedEntry("b.txt", SampleText(3000))};
    outer.comment = BuildZip(inner);
    std::string bytes = BuildZip(outer);
    auto archive = Open(bytes);
    EXPECT_EQ(EntryNames(*archive), (std::vector<std::string>{"outer.txt", "b.txt"}));
    EXPECT_EQ(archive->OffsetShift(), 0);
    const std::size_t outerDirectory = bytes.size() - outer.comment.size() - 22 - (46 + 9) - (46 + 5);
    bytes[outerDirectory] = 'X';  // the outer directory is gone: only the shifted inner record fits
    archive = Open(bytes);
    EXPECT_EQ(EntryNames(*archive), std::vector<std::string>{"inner.txt"});
    EXPECT_GT(archive->OffsetShift(), 0);
}

INSTANTIATE_TEST_SUITE_P(BothSources, ArchiveDirectoryTest,
                         ::testing::Values(ArchiveSource::File, ArchiveSource::OddChunks), [](const auto& test_info) {
                             return test_info.param == ArchiveSource::File ? "FileStream" : "OddChunkStream";
                         });

TEST(ArchiveFile, MissingFileRaisesCannotOpen) {
    ScratchFolder folder("missing");
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
    ScratchFolder folder("large");
    const fs::path file = folder.Path() / "large.zip";
    const std::uint32_t headerOffset = 0x80000010u;
    BuiltArchive built;
    built.entries = {StoredEntry("high.txt", "stored beyond two gibibytes")};
    const std::string small = BuildZip(built);  // local header at 0; move it up
    const std::size_t localSize = 30 + 8 + built.entries[0].payload.size();
    std::string directory = small.substr(localSize);
    directory.replace(42, 4, Le32(headerOffset));  // central: local header offset
    directory.replace(directory.size() - 22 + 16, 4,
                      Le32(headerOffset + static_cast<std::uint32_t>(localSize)));  // end: directory offset
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
