// ExtractArchive as the extraction stage uses it: files on disk, progress, cancel and the log.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <utility>

#include "common/log.h"
#include "common/text.h"
#include "install/extract/entry_read_ahead.h"
#include "install/extract/extract_archive.h"
#include "scratch_folder.h"
#include "test_log.h"
#include "support/test_files.h"
#include "support/zip_builder.h"
#include "zip/zip_archive.h"

namespace {

namespace fs = std::filesystem;

// The installation log of this test program, opened once; each test reads the lines it added.
class LogLines {
public:
    LogLines() : m_start(All().size()) {}
    // "Level: message" of every line written since construction.
    std::vector<std::string> New() const {
        auto lines = All();
        lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(m_start));
        return lines;
    }

private:
    static std::vector<std::string> All() {
        std::vector<std::string> lines = TestLog::Lines();
        for (std::string& line : lines) line = line.substr(line.find(") ") + 2);
        return lines;
    }
    std::size_t m_start;
};

struct ExtractionRun {
    ExtractionResult result;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> progress;
    std::vector<std::string> log;
};

// The wide path the installer would pass: on Linux the UTF-8 bytes widened.
std::wstring WidePath(const fs::path& path) {
#ifdef _WIN32
    return path.wstring();
#else
    return Utf8ToWide(path.u8string());
#endif
}

using Steps = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

Steps FullProgress(std::uint32_t n) {
    Steps steps;
    for (std::uint32_t i = 1; i <= n; ++i) steps.emplace_back(i, n);
    return steps;
}

// Extracts |package| into |folder|; |cancelAfter| entries are handled before the cancel test says yes.
ExtractionRun Extract(const fs::path& package, const fs::path& folder, int cancelAfter = -1) {
    LogLines log;
    ExtractionRun run;
    int handled = 0;
    run.result = ExtractArchive(
        WidePath(package), WidePath(folder),
        [&](std::uint32_t done, std::uint32_t total) { run.progress.emplace_back(done, total); },
        [&] { return ++handled == cancelAfter; });
    run.log = log.New();
    return run;
}

class Extraction : public ::testing::Test {
protected:
    ScratchFolder m_temp{"extract"};
    fs::path m_out = m_temp.Path() / "Installer";
    void SetUp() override { fs::create_directories(m_out); }

    ExtractionRun ExtractBuilt(const BuiltArchive& built, int cancelAfter = -1) {
        const fs::path package = m_temp.Path() / "Installer.zip";
        WriteFileBytes(package, BuildZip(built));
        return Extract(package, m_out, cancelAfter);
    }
};

#define EXPECT_RESULT(run, done, all)              \
    do {                                           \
        EXPECT_EQ((run).result.extracted, (done)); \
        EXPECT_EQ((run).result.total, (all));      \
    } while (0)

TEST_F(Extraction, EveryWritersArchiveUnpacksToItsSources) {
    const auto sources = FilesBelow(WriterArchivesFolder() / "src");
    for (const char* name :
         {"python_stored.zip", "python_deflate.zip", "python_bzip2.zip", "python_lzma_end_marker.zip",
          "infozip_deflate.zip", "infozip_no_folders.zip", "7z_lzma_no_end_marker.zip", "7z_bzip2_900k.zip"}) {
        SCOPED_TRACE(name);
        const fs::path out = m_temp.Path() / name;
        fs::create_directories(out);
        const ExtractionRun run = Extract(WriterArchivesFolder() / name, out);
        const std::uint32_t n = run.result.total;
        EXPECT_RESULT(run, n, n);
        EXPECT_GE(n, sources.size());
        EXPECT_EQ(run.progress, FullProgress(n));
        const auto files = FilesBelow(out);
        EXPECT_EQ(files.size(), sources.size());
        for (const auto& [file, bytes] : sources) {
            const auto found = files.find(file);
            ASSERT_NE(found, files.end()) << file << " missing";
            EXPECT_TRUE(found->second == bytes) << file << " differs from its source";
        }
        ASSERT_FALSE(run.log.empty());
        EXPECT_EQ(run.log.front(), "Note: Unzipping " + std::to_string(n) + " entries");
        EXPECT_EQ(run.log.size(), 1 + sources.size()) << "one Extracting line per file, nothing else";
        EXPECT_TRUE(fs::is_directory(out / "docs" / "deep" / "er"));
    }
}

TEST_F(Extraction, FolderThenFileLogsAndReportsEachEntry) {
    BuiltArchive built;
    built.entries = {FolderEntry("dir/"), DeflatedEntry("dir/file.txt", SampleText(5000))};
    const ExtractionRun run = ExtractBuilt(built);
    EXPECT_RESULT(run, 2u, 2u);
    EXPECT_EQ(run.progress, FullProgress(2));
    EXPECT_EQ(run.log, (std::vector<std::string>{"Note: Unzipping 2 entries", "Note: Extracting dir/file.txt"}));
    EXPECT_EQ(ReadFileBytes(m_out / "dir" / "file.txt"), SampleText(5000));
}

TEST_F(Extraction, MissingParentFoldersAreCreated) {
    BuiltArchive built;
    built.entries = {StoredEntry("a/b/c/deep.txt", "deep"), FolderEntry("a/"), StoredEntry("top.txt", "top")};
    const ExtractionRun run = ExtractBuilt(built);
    EXPECT_RESULT(run, 3u, 3u);
    EXPECT_EQ(ReadFileBytes(m_out / "a" / "b" / "c" / "deep.txt"), "deep");
    EXPECT_EQ(ReadFileBytes(m_out / "top.txt"), "top");
}

TEST_F(Extraction, ZeroLengthFileIsAnEmptyFileNotAFolder) {
    BuiltArchive built;
    built.entries = {StoredEntry("empty.txt", ""), FolderEntry("folder/"), StoredEntry("folder/also-empty", "")};
    const ExtractionRun run = ExtractBuilt(built);
    EXPECT_RESULT(run, 3u, 3u);
    EXPECT_TRUE(fs::is_regular_file(m_out / "empty.txt"));
    EXPECT_EQ(fs::file_size(m_out / "empty.txt"), 0u);
    EXPECT_TRUE(fs::is_directory(m_out / "folder"));
    EXPECT_TRUE(fs::is_regular_file(m_out / "folder" / "also-empty"));
    EXPECT_EQ(run.progress, FullProgress(3));
}

TEST_F(Extraction, NamesLeavingTheFolderAreNotWritten) {
    const char* hostile[] = {"../escaped.txt", "a/../../escaped.txt", "..\\escaped-too.txt", "C:/escaped.txt",
                             "c:escaped.txt",  "stream.txt:hidden",   "a/./b.txt",           "../up/"};
    BuiltArchive built;
    for (const char* name : hostile) built.entries.push_back(StoredEntry(name, "must not be written"));
    built.entries.push_back(StoredEntry("/absolute/inside.txt", "leading slashes are removed"));
    built.entries.push_back(StoredEntry("safe.txt", "safe"));
    const fs::path inner = m_out / "inner";
    fs::create_directories(inner);
    const fs::path package = m_temp.Path() / "slip.zip";
    WriteFileBytes(package, BuildZip(built));
    const ExtractionRun run = Extract(package, inner);
    const auto n = static_cast<std::uint32_t>(built.entries.size());
    // Every entry is handled and reported, then the extraction fails: nothing is skipped silently.
    EXPECT_RESULT(run, 0u, 0u);
    EXPECT_EQ(run.progress, FullProgress(n));
    std::vector<std::string> expectedLog = {"Note: Unzipping " + std::to_string(n) + " entries"};
    for (const char* name : {"../escaped.txt", "a/../../escaped.txt", "../escaped-too.txt", "C:/escaped.txt",
                             "c:escaped.txt", "stream.txt:hidden", "a/./b.txt", "../up/", "absolute/inside.txt"})
        expectedLog.push_back(std::string("Eerror: Unable to extract ") + name +
                              ": its name leads out of the extraction folder or names a device");
    expectedLog.push_back("Note: Extracting safe.txt");
    expectedLog.push_back("Eerror: Unable to extract 9 of 10 entries of slip.zip");
    EXPECT_EQ(run.log, expectedLog);
    const auto written = FilesBelow(m_temp.Path());
    std::vector<std::string> names;
    for (const auto& item : written) names.push_back(item.first);
    EXPECT_EQ(names, (std::vector<std::string>{"Installer/inner/safe.txt", "slip.zip"}));
}

TEST_F(Extraction, CrcMismatchFailsTheExtractionAndLeavesNoFile) {
    BuiltArchive built;
    BuiltEntry bad = DeflatedEntry("bad.bin", SampleText(100000));
    bad.crc ^= 0x00010000;
    built.entries = {StoredEntry("good.txt", "good"), bad, StoredEntry("after.txt", "never reached")};
    const ExtractionRun run = ExtractBuilt(built);
    EXPECT_RESULT(run, 0u, 0u);
    EXPECT_EQ(run.progress, (Steps{{1u, 3u}}));
    EXPECT_EQ(run.log, (std::vector<std::string>{"Note: Unzipping 3 entries", "Note: Extracting good.txt",
                                                 "Note: Extracting bad.bin",
                                                 "Eerror: Corrupt entry bad.bin: CRC-32 " + Hex(bad.crc) +
                                                     " expected, " + Hex(bad.crc ^ 0x00010000) + " found"}));
    EXPECT_FALSE(fs::exists(m_out / "bad.bin"));
    EXPECT_FALSE(fs::exists(m_out / "after.txt"));
}

TEST_F(Extraction, DataLongerOrShorterThanItsStoredSizeIsCorrupt) {
    const std::string plain = SampleText(70000);
    struct Case {
        const char* shape;
        std::uint32_t declaredSize;
        std::string crcOf;
        const char* logged;
    } cases[] = {
        {"decoder delivers more than declared", 65536, plain.substr(0, 65536), "size 65536 expected, more found"},
        {"data ends before the declared size", 80000, plain, "size 80000 expected, 70000 found"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.shape);
        BuiltArchive built;
        BuiltEntry entry = DeflatedEntry("sized.txt", plain);
        entry.uncompressedSize = row.declaredSize;
        entry.crc = Crc32Of(row.crcOf);
        built.entries = {entry};
        const ExtractionRun run = ExtractBuilt(built);
        EXPECT_RESULT(run, 0u, 0u);
        ASSERT_FALSE(run.log.empty());
        EXPECT_EQ(run.log.back(), std::string("Eerror: Corrupt entry sized.txt: ") + row.logged);
        EXPECT_FALSE(fs::exists(m_out / "sized.txt"));
    }
}

TEST_F(Extraction, TruncatedPackageFails) {
    BuiltArchive built;
    built.entries = {StoredEntry("one.bin", NoiseBytes(40000, 1)), DeflatedEntry("two.txt", SampleText(90000))};
    const std::string whole = BuildZip(built);
    const fs::path package = m_temp.Path() / "cut.zip";
    WriteFileBytes(package, whole.substr(0, whole.size() * 6 / 10));  // the download stopped early
    ExtractionRun run = Extract(package, m_out);
    EXPECT_RESULT(run, 0u, 0u);
    EXPECT_EQ(run.log, std::vector<std::string>{"Eerror: cut.zip ends before its central directory"});

    // The directory is whole but the last entry's compressed data was cut in half.
    built.entries[1].payload.resize(built.entries[1].payload.size() / 2);
    run = ExtractBuilt(built);
    EXPECT_RESULT(run, 0u, 0u);
    EXPECT_EQ(run.log.back().rfind("Eerror: Corrupt entry two.txt: size 90000 expected, ", 0), 0u) << run.log.back();
}

TEST_F(Extraction, MissingOrEmptyPackageFails) {
    ExtractionRun run = Extract(m_temp.Path() / "absent.zip", m_out);
    EXPECT_RESULT(run, 0u, 0u);
    EXPECT_EQ(run.log, std::vector<std::string>{"Failure: Cannot open zip file"});
    EXPECT_TRUE(run.progress.empty());

    run = ExtractBuilt(BuiltArchive{});
    EXPECT_RESULT(run, 0u, 0u);
    EXPECT_EQ(run.log, std::vector<std::string>{"Eerror: Installer.zip holds no entries"});
}

TEST_F(Extraction, CancelStopsAfterTheEntryBeingWritten) {
    BuiltArchive built;
    built.entries = {StoredEntry("1.txt", "one"), DeflatedEntry("2.txt", SampleText(300000)),
                     StoredEntry("3.txt", "three"), StoredEntry("4.txt", "four")};
    const ExtractionRun run = ExtractBuilt(built, 2);
    EXPECT_RESULT(run, 1u, 4u);
    EXPECT_EQ(run.progress, (Steps{{1u, 4u}}));
    EXPECT_EQ(run.log, (std::vector<std::string>{"Note: Unzipping 4 entries", "Note: Extracting 1.txt",
                                                 "Note: Extracting 2.txt", "Note: Canceling extraction..."}));
    EXPECT_EQ(ReadFileBytes(m_out / "2.txt"), SampleText(300000)) << "the entry in hand is finished";
    EXPECT_FALSE(fs::exists(m_out / "3.txt"));
}

TEST_F(Extraction, EntriesThatCannotBeReadOrCreatedFailTheExtraction) {
    BuiltArchive built;
    BuiltEntry encrypted = StoredEntry("secret.txt", std::string(12, 'h') + "cipher");
    encrypted.flags = 0x0001;
    BuiltEntry newer = StoredEntry("newer.txt", "needs version 6.4");
    newer.versionNeeded = 64;
    BuiltEntry badHeader = StoredEntry("bad-header.txt", "meaningless");
    badHeader.brokenLocalSignature = true;
    BuiltEntry unknownMethod = StoredEntry("method-99.bin", "raw");
    unknownMethod.method = 99;
    built.entries = {encrypted,     newer,
                     badHeader,     StoredEntry("taken", "a folder has this name"),
                     unknownMethod, StoredEntry("ok.txt", "ok")};
    fs::create_directories(m_out / "taken");
    const ExtractionRun run = ExtractBuilt(built);
    EXPECT_RESULT(run, 0u, 0u);
    EXPECT_EQ(run.progress, FullProgress(6));
    ASSERT_EQ(run.log.size(), 9u);
    const std::vector<std::string> expected = {
        "Note: Unzipping 6 entries",
        "Eerror: Unable to extract secret.txt: it is encrypted",
        "Eerror: Unable to extract newer.txt: it needs a newer ZIP reader (version 6.4)",
        "Eerror: Unable to extract bad-header.txt: its local header is missing or damaged",
        "Note: Extracting taken",
        "Eerror: Unable to extract taken: the file cannot be created",
        "Eerror: Unable to extract method-99.bin: its compression method 99 is not supported",
        "Note: Extracting ok.txt",
        "Eerror: Unable to extract 5 of 6 entries of Installer.zip"};
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(run.log[i].substr(0, expected[i].size()), expected[i]);
    EXPECT_EQ(ReadFileBytes(m_out / "ok.txt"), "ok");
    EXPECT_FALSE(fs::exists(m_out / "secret.txt"));
}

TEST_F(Extraction, ExistingFilesAreReplaced) {
    WriteFileBytes(m_out / "same.txt", std::string(10000, 'o'));
    BuiltArchive built;
    built.entries = {StoredEntry("same.txt", "new")};
    EXPECT_RESULT(ExtractBuilt(built), 1u, 1u);
    EXPECT_EQ(ReadFileBytes(m_out / "same.txt"), "new");
}

// Wide paths: a folder whose name is not ASCII, and an entry name flagged as UTF-8.
TEST_F(Extraction, WideFolderAndUtf8NamesArrive) {
    const fs::path folder = m_temp.Path() / fs::u8path(u8"Ünïcödé Ordner");
    fs::create_directories(folder);
    BuiltArchive built;
    BuiltEntry named = StoredEntry(u8"Grüße/Straße.txt", "utf-8 name");
    named.flags = 0x0800;
    // As WinZip and 7-Zip write it: the name in CP437, the UTF-8 name in a Unicode Path field.
    const std::string cp437("\x99lf\x84sser.txt");
    BuiltEntry oem = StoredEntry(cp437, "unicode path");
    oem.centralExtra = ExtraItem(0x7075, "\x01" + Le32(Crc32Of(cp437)) + u8"Ölfässer.txt");
    built.entries = {named, oem};
    const fs::path package = m_temp.Path() / "wide.zip";
    WriteFileBytes(package, BuildZip(built));
    const ExtractionRun run = Extract(package, folder);
    EXPECT_RESULT(run, 2u, 2u);
    EXPECT_EQ(ReadFileBytes(folder / fs::u8path(u8"Grüße") / fs::u8path(u8"Straße.txt")), "utf-8 name");
    EXPECT_EQ(ReadFileBytes(folder / fs::u8path(u8"Ölfässer.txt")), "unicode path");
}

// Packages refused before anything is written, each with its reason in one Eerror line.
TEST_F(Extraction, UnsoundPackagesAreRefusedBeforeWriting) {
    BuiltArchive good;
    good.entries = {DeflatedEntry("a.txt", SampleText(30000)), StoredEntry("b.txt", "bee")};
    BuiltArchive shared;  // 200 records, one compressed stream: kilobytes would become gigabytes
    const BuiltEntry bomb = DeflatedEntry("bomb", std::string(1000000, 'z'));
    for (int i = 0; i < 200; ++i) {
        BuiltEntry copy = bomb;
        copy.name = "copy" + std::to_string(i);
        copy.localHeaderOffset = 0;
        shared.entries.push_back(copy);
    }
    BuiltArchive huge;  // declared sizes no drive holds
    for (int i = 0; i < 3000; ++i) {
        BuiltEntry entry = StoredEntry("big" + std::to_string(i), "x");
        entry.uncompressedSize = 0xFFFFFFFFu;
        huge.entries.push_back(entry);
    }
    const std::string whole = BuildZip(good);
    std::string brokenRecord = whole;
    brokenRecord[whole.size() - 22 - (46 + 5) + 2] = 'X';
    const struct {
        const char* shape;
        std::string bytes;
        std::string logged;
    } table[] = {
        {"text file", "just some text\n", "Eerror: Installer.zip is not a ZIP archive"},
        {"cut short", whole.substr(0, whole.size() / 2), "Eerror: Installer.zip ends before its central directory"},
        {"damaged directory", brokenRecord, "Eerror: Installer.zip has a damaged central directory"},
        {"entries sharing bytes", BuildZip(shared),
         "Eerror: Corrupt package Installer.zip: entries share bytes (copy0 and copy1)"},
        {"larger than the free space", BuildZip(huge),
         "Eerror: Not enough free space to extract Installer.zip: 12884901885000 bytes needed, "},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.shape);
        const fs::path package = m_temp.Path() / "Installer.zip";
        WriteFileBytes(package, row.bytes);
        const ExtractionRun run = Extract(package, m_out);
        EXPECT_RESULT(run, 0u, 0u);
        EXPECT_TRUE(run.progress.empty());
        ASSERT_FALSE(run.log.empty());
        EXPECT_EQ(run.log.back().substr(0, row.logged.size()), row.logged);
        EXPECT_TRUE(fs::is_empty(m_out)) << "nothing may be written";
    }
}

// Shapes that real writers produce: all of them extract completely.
TEST_F(Extraction, RealWorldShapesExtract) {
    BuiltEntry folder = StoredEntry("Program Files", "");  // a folder by its MS-DOS attribute only
    folder.versionMadeBy = 0x0014;
    folder.externalAttributes = 0x10;
    BuiltEntry hostByte = DeflatedEntry("Program Files/app.dll", SampleText(40000));
    hostByte.versionNeeded = 0x0314;
    BuiltEntry lzmaVersion = StoredEntry("Program Files/notes.txt", "notes");
    lzmaVersion.versionNeeded = 0x033F;
    BuiltArchive built;
    built.entries = {folder, hostByte, lzmaVersion};
    built.prefix = "MZ self-extracting stub " + NoiseBytes(5000, 8);
    built.comment = "comment with PK\x05\x06 inside";
    const ExtractionRun run = ExtractBuilt(built);
    EXPECT_RESULT(run, 3u, 3u);
    EXPECT_TRUE(fs::is_directory(m_out / "Program Files"));
    EXPECT_EQ(ReadFileBytes(m_out / "Program Files" / "app.dll"), SampleText(40000));
    EXPECT_EQ(ReadFileBytes(m_out / "Program Files" / "notes.txt"), "notes");
}

// Control characters in names cannot forge log lines or reach a terminal.
TEST_F(Extraction, ControlCharactersInNamesAreEscapedInTheLog) {
    BuiltArchive built;
    built.entries = {StoredEntry("line\nNote: forged.txt", "1"), StoredEntry("esc\x1B[31m.txt", "2")};
    const ExtractionRun run = ExtractBuilt(built);
    std::string all;
    for (const auto& line : run.log) all += line + "|";
    EXPECT_NE(all.find("line\\x0ANote: forged.txt"), std::string::npos) << all;
    EXPECT_NE(all.find("esc\\x1B[31m.txt"), std::string::npos) << all;
    EXPECT_EQ(all.find('\x1B'), std::string::npos);
    for (const auto& line : run.log) EXPECT_NE(line.rfind("Note: forged", 0), 0u);
}

// Within a large entry the cancel test is asked between megabytes; the cut file is removed.
TEST_F(Extraction, CancelWithinALargeEntryRemovesItsFile) {
    BuiltArchive built;
    built.entries = {DeflatedEntry("large.bin", SampleText(5000000)), StoredEntry("after.txt", "after")};
    const ExtractionRun run = ExtractBuilt(built, 1);
    EXPECT_RESULT(run, 0u, 2u);
    EXPECT_TRUE(run.progress.empty());
    EXPECT_EQ(run.log.back(), "Note: Canceling extraction...");
    EXPECT_FALSE(fs::exists(m_out / "large.bin"));
}

// The helpers decode small entries ahead, each up to its stored size and one byte more, so that
// data going on past its size is still seen by the loop.
TEST_F(Extraction, ReadAheadDecodesSmallEntriesWithOneByteMore) {
    BuiltArchive built;
    BuiltEntry longer = DeflatedEntry("longer.txt", SampleText(9000));
    longer.uncompressedSize = 5000;
    BuiltEntry encrypted = StoredEntry("secret", std::string(20, 's'));
    encrypted.flags = 0x0001;
    built.entries = {StoredEntry("first", "the loop's own"),
                     DeflatedEntry("text.txt", SampleText(20000)),
                     longer,
                     FolderEntry("folder/"),
                     encrypted,
                     StoredEntry("large.bin", NoiseBytes(EntryReadAhead::kLargestEntry + 1, 5))};
    const fs::path package = m_temp.Path() / "ahead.zip";
    WriteFileBytes(package, BuildZip(built));
    const auto archive = ZipArchive::OpenFromFile(WidePath(package));
    for (std::size_t i = 0; i < archive->EntryCount(); ++i) archive->EntryAt(i)->LoadLocalHeader();
    for (const std::size_t helpers : {1u, 3u}) {
        SCOPED_TRACE(helpers);
        EntryReadAhead readAhead(
            archive, [&] { return std::make_unique<std::ifstream>(package, std::ios::binary); }, helpers);
        readAhead.WaitUntilIdle();
        EXPECT_FALSE(readAhead.Take(0).has_value()) << "never the entry the loop is at";
        const auto text = readAhead.Take(1);
        ASSERT_TRUE(text.has_value());
        EXPECT_TRUE(*text == SampleText(20000));
        const auto more = readAhead.Take(2);
        ASSERT_TRUE(more.has_value());
        EXPECT_EQ(more->size(), 5001u);
        for (std::uint32_t skipped : {3u, 4u, 5u}) EXPECT_FALSE(readAhead.Take(skipped).has_value()) << skipped;
    }

    // Through the extraction: the longer entry fails however it was decoded.
    const ExtractionRun run = Extract(package, m_out);
    EXPECT_RESULT(run, 0u, 0u);
    EXPECT_EQ(run.log.back(), "Eerror: Corrupt entry longer.txt: size 5000 expected, more found");
}

}  // namespace
