// Archives written at test time by independent ZIP writers, each read twice (file stream and
// odd-chunk stream); every entry's bytes must equal its source file.

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "support/test_files.h"
#include "support/zip_builder.h"
#include "zip/zip_archive.h"
#include "zip/zip_archive_entry.h"

namespace {

namespace fs = std::filesystem;

struct WriterArchive {
    std::string name;
    std::string password;
    std::string comment;
};

std::vector<WriterArchive> ListedArchives() {
    std::vector<WriterArchive> archives;
    std::ifstream list(WriterArchivesFolder() / "archives.txt");
    for (std::string line; std::getline(list, line);) {
        std::istringstream fields(line);
        WriterArchive archive;
        std::getline(fields, archive.name, '\t');
        std::getline(fields, archive.password, '\t');
        std::getline(fields, archive.comment, '\t');
        if (archive.password == "-") archive.password.clear();
        if (archive.comment == "-") archive.comment.clear();
        archives.push_back(archive);
    }
    return archives;
}

class WriterArchiveTest : public ::testing::TestWithParam<ArchiveSource> {};

TEST_P(WriterArchiveTest, EveryEntryDeliversItsSourceBytes) {
    const auto sources = FilesBelow(WriterArchivesFolder() / "src");
    const auto archives = ListedArchives();
    ASSERT_EQ(archives.size(), 10u) << "archives.txt lists the writers' archives";
    for (const WriterArchive& listed : archives) {
        SCOPED_TRACE(listed.name + " through the " + ToString(GetParam()));
        const auto archive = OpenArchive(WriterArchivesFolder() / listed.name, GetParam());
        EXPECT_EQ(archive->Comment(), listed.comment);
        std::set<std::string> seen;
        for (std::size_t i = 0; i < archive->EntryCount(); ++i) {
            const auto entry = archive->EntryAt(i);
            if (entry->IsDirectoryEntry()) continue;
            entry->SetPassword(listed.password);
            std::istream* data = entry->OpenDataStream();
            ASSERT_NE(data, nullptr) << entry->FullName();
            const std::string bytes = ReadAll(*data, 1000);
            const auto source = sources.find(entry->FullName());
            ASSERT_NE(source, sources.end()) << "unexpected entry " << entry->FullName();
            EXPECT_EQ(bytes.size(), source->second.size()) << entry->FullName();
            EXPECT_TRUE(bytes == source->second) << entry->FullName() << " differs from its source";
            EXPECT_EQ(Crc32Of(bytes), entry->StoredCrc32()) << entry->FullName();
            seen.insert(entry->FullName());
            entry->ReleaseDataStreams();
        }
        EXPECT_EQ(seen.size(), sources.size());
    }
}

INSTANTIATE_TEST_SUITE_P(BothSources, WriterArchiveTest,
                         ::testing::Values(ArchiveSource::File, ArchiveSource::OddChunks), [](const auto& test_info) {
                             return test_info.param == ArchiveSource::File ? "FileStream" : "OddChunkStream";
                         });

TEST(WriterArchives, EncryptedEntriesOpenOnlyWithTheirPassword) {
    const auto archive = OpenArchive(WriterArchivesFolder() / "infozip_encrypted.zip", ArchiveSource::File);
    std::size_t checked = 0;
    for (std::size_t i = 0; i < archive->EntryCount(); ++i) {
        const auto entry = archive->EntryAt(i);
        if (entry->IsDirectoryEntry()) continue;
        EXPECT_EQ(entry->OpenDataStream(), nullptr) << entry->FullName() << " opened without a password";
        ++checked;
    }
    EXPECT_EQ(checked, 8u);
}

TEST(WriterArchives, FoldersWrittenByEachWriterAreDirectoryEntries) {
    const auto archive = OpenArchive(WriterArchivesFolder() / "python_deflate.zip", ArchiveSource::File);
    std::set<std::string> folders;
    for (std::size_t i = 0; i < archive->EntryCount(); ++i)
        if (archive->EntryAt(i)->IsDirectoryEntry()) folders.insert(archive->EntryAt(i)->FullName());
    EXPECT_EQ(folders, (std::set<std::string>{"bin/", "docs/", "docs/deep/", "docs/deep/er/"}));
    const auto flat = OpenArchive(WriterArchivesFolder() / "infozip_no_folders.zip", ArchiveSource::File);
    for (std::size_t i = 0; i < flat->EntryCount(); ++i) EXPECT_FALSE(flat->EntryAt(i)->IsDirectoryEntry());
}

// The four LZMA header bytes before the properties (SDK version, properties size) are ignored.
TEST(WriterArchives, LzmaHeaderVersionBytesMayHoldAnyValue) {
    for (const char* name : {"python_lzma_end_marker.zip", "7z_lzma_no_end_marker.zip"}) {
        SCOPED_TRACE(name);
        std::string bytes = ReadFileBytes(WriterArchivesFolder() / name);
        const auto original = ArchiveFromBytes(bytes, ArchiveSource::File);
        std::size_t patched = 0;
        for (std::size_t i = 0; i < original->EntryCount(); ++i) {
            const auto entry = original->EntryAt(i);
            if (entry->MethodId() != 14) continue;
            const auto offset = static_cast<std::size_t>(*entry->DataOffset());
            bytes.replace(offset, 4, "\xEE\xEE\xEE\xEE");
            ++patched;
        }
        ASSERT_GT(patched, 3u);
        const auto sources = FilesBelow(WriterArchivesFolder() / "src");
        const auto archive = ArchiveFromBytes(bytes, ArchiveSource::OddChunks);
        for (std::size_t i = 0; i < archive->EntryCount(); ++i) {
            const auto entry = archive->EntryAt(i);
            if (entry->IsDirectoryEntry()) continue;
            std::istream* data = entry->OpenDataStream();
            ASSERT_NE(data, nullptr);
            EXPECT_TRUE(ReadAll(*data) == sources.at(entry->FullName())) << entry->FullName();
        }
    }
}

}  // namespace
