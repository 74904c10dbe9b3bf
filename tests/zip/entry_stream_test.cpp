// Entry data streams and decoders: what opens, what is refused, and how damaged data ends.

#include <gtest/gtest.h>

#include <sstream>

#include "support/test_files.h"
#include "support/zip_builder.h"
#include "zip/crypto_stream.h"
#include "zip/deflate_decoder.h"
#include "zip/lzma_decoder.h"
#include "zip/methods.h"
#include "zip/sub_stream.h"
#include "zip/zip_archive.h"
#include "zip/zip_archive_entry.h"

namespace {

std::string DataOf(ZipArchiveEntry& entry) {
    std::istream* data = entry.OpenDataStream();
    EXPECT_NE(data, nullptr) << entry.FullName();
    return data ? ReadAll(*data) : std::string();
}

TEST(EntryStreams, StoredEntryDeliversExactlyItsCompressedBytes) {
    BuiltArchive built;
    built.entries = {StoredEntry("a.bin", NoiseBytes(100000, 1)), StoredEntry("b.txt", "next entry")};
    const auto archive = ArchiveFromBytes(BuildZip(built));
    EXPECT_TRUE(DataOf(*archive->EntryAt(0)) == built.entries[0].payload);
    EXPECT_EQ(DataOf(*archive->EntryAt(1)), "next entry");
}

TEST(EntryStreams, VersionNeededAbove63IsRefused) {
    BuiltArchive built;
    BuiltEntry newest = StoredEntry("v63", "six three");
    newest.versionNeeded = 63;
    BuiltEntry newer = StoredEntry("v64", "six four");
    newer.versionNeeded = 64;
    built.entries = {newest, newer};
    const auto archive = ArchiveFromBytes(BuildZip(built));
    EXPECT_EQ(DataOf(*archive->EntryAt(0)), "six three");
    EXPECT_EQ(archive->EntryAt(1)->OpenDataStream(), nullptr);
}

TEST(EntryStreams, UnknownMethodsDeliverTheirStoredBytes) {
    BuiltArchive built;
    for (std::uint16_t method : {std::uint16_t{9}, std::uint16_t{99}}) {
        BuiltEntry entry = StoredEntry("m" + std::to_string(method), "raw bytes of method " + std::to_string(method));
        entry.method = method;
        built.entries.push_back(entry);
    }
    const auto archive = ArchiveFromBytes(BuildZip(built));
    EXPECT_EQ(DataOf(*archive->EntryAt(0)), "raw bytes of method 9");
    EXPECT_EQ(DataOf(*archive->EntryAt(1)), "raw bytes of method 99");
    EXPECT_EQ(MethodForId(9), nullptr);
    EXPECT_EQ(MethodForId(99), nullptr);
}

TEST(EntryStreams, MethodRegistryKnowsFourMethods) {
    const struct {
        std::uint16_t id;
        MethodDescriptor descriptor;
    } table[] = {{0, 0x000A0000}, {8, 0x00140008}, {12, 0x002E000C}, {14, 0x003F000E}};
    for (const auto& row : table) {
        const auto method = MethodForId(row.id);
        ASSERT_NE(method, nullptr) << row.id;
        EXPECT_EQ(method->Descriptor(), row.descriptor) << row.id;
        EXPECT_NE(method->Decoder(), nullptr);
        EXPECT_EQ(method->DecoderProperties().buffer_capacity, 32768u);
        EXPECT_NE(MethodForId(row.id)->Decoder(), method->Decoder()) << "every call creates a new decoder";
    }
}

TEST(EntryStreams, SecondOpenIsRefusedUntilTheChainIsReleased) {
    BuiltArchive built;
    built.entries = {DeflatedEntry("text", SampleText(200000))};
    const auto archive = ArchiveFromBytes(BuildZip(built));
    const auto entry = archive->EntryAt(0);
    std::istream* first = entry->OpenDataStream();
    ASSERT_NE(first, nullptr);
    std::string head(1000, '\0');
    first->read(head.data(), 1000);
    EXPECT_EQ(entry->OpenDataStream(), nullptr);
    entry->ReleaseDataStreams();
    std::istream* again = entry->OpenDataStream();
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(ReadAll(*again) == SampleText(200000)) << "a new chain starts from the first byte";
}

// Every sub-stream re-seeks the shared archive stream before each block.
TEST(EntryStreams, TwoEntriesReadAlternatelyBlockByBlock) {
    BuiltArchive built;
    built.entries = {DeflatedEntry("text", SampleText(300000)), StoredEntry("noise", NoiseBytes(200000, 3)),
                     Bzip2Entry("bz", SampleText(150000), 1)};
    for (ArchiveSource source : {ArchiveSource::File, ArchiveSource::OddChunks}) {
        SCOPED_TRACE(ToString(source));
        const auto archive = ArchiveFromBytes(BuildZip(built), source);
        std::istream* streams[3];
        std::string got[3];
        for (int i = 0; i < 3; ++i) {
            streams[i] = archive->EntryAt(static_cast<std::size_t>(i))->OpenDataStream();
            ASSERT_NE(streams[i], nullptr);
        }
        std::string block(32768, '\0');
        for (bool more = true; more;) {
            more = false;
            for (int i = 0; i < 3; ++i) {
                const auto count = streams[i]->rdbuf()->sgetn(block.data(), 32768);
                got[i].append(block.data(), static_cast<std::size_t>(count));
                more = more || count > 0;
            }
        }
        EXPECT_TRUE(got[0] == SampleText(300000));
        EXPECT_TRUE(got[1] == NoiseBytes(200000, 3));
        EXPECT_TRUE(got[2] == SampleText(150000));
    }
}

TEST(EntryStreams, DamagedDeflateDataEndsEarlyWithoutAnError) {
    const std::string plain = SampleText(400000);
    BuiltArchive built;
    built.entries = {DeflatedEntry("damaged", plain)};
    std::string& payload = built.entries[0].payload;
    payload.replace(payload.size() / 2, 256, std::string(256, '\xFF'));  // Huffman codes no table holds
    const auto archive = ArchiveFromBytes(BuildZip(built));
    std::istream* data = archive->EntryAt(0)->OpenDataStream();
    ASSERT_NE(data, nullptr);
    const std::string got = ReadAll(*data);
    EXPECT_LT(got.size(), plain.size());
    EXPECT_FALSE(data->bad());
    ASSERT_GT(got.size(), 1000u);
    EXPECT_TRUE(plain.compare(0, 1000, got, 0, 1000) == 0) << "the bytes before the damage are delivered";
}

TEST(EntryStreams, Bzip2BlockFarAbove32KiBDeliversEverything) {
    const std::string plain = NoiseBytes(300000, 5) + SampleText(700000);
    BuiltArchive built;
    built.entries = {Bzip2Entry("big", plain, 9)};
    ASSERT_GT(built.entries[0].payload.size(), 8u * 32768u);
    const auto archive = ArchiveFromBytes(BuildZip(built));
    EXPECT_TRUE(DataOf(*archive->EntryAt(0)) == plain);
}

// LZMA entries start with a 9-byte header; byte 4 is the properties byte, bytes 5-8 the dictionary size.
TEST(EntryStreams, LzmaHeaderThatCannotBeDecodedDeliversNothing) {
    const struct {
        const char* shape;
        std::string header;
    } cases[] = {
        {"properties byte 225", std::string("\x09\x14\x05\x00\xE1", 5) + Le32(1 << 16)},
        {"dictionary of 4 GiB", std::string("\x09\x14\x05\x00\x5D", 5) + Le32(0xFFFFFFFFu)},
        {"header cut short", std::string("\x09\x14\x05", 3)},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.shape);
        BuiltArchive built;
        BuiltEntry entry = StoredEntry("lzma", "");
        entry.payload = row.header + NoiseBytes(100, 6);
        entry.method = 14;
        entry.versionNeeded = 63;
        entry.uncompressedSize = 1000;
        built.entries = {entry};
        const auto archive = ArchiveFromBytes(BuildZip(built));
        EXPECT_EQ(DataOf(*archive->EntryAt(0)), "");
    }
}

// A deflate stream ends the data even when its source holds more bytes; a source that can be
// repositioned gets the unused bytes back.
TEST(Decoders, DeflateStopsAtTheEndOfItsStream) {
    const std::string plain = SampleText(100000);
    std::istringstream source(RawDeflate(plain) + "TRAILING BYTES", std::ios::binary);
    deflate_decoder decoder;
    decoder.attach(source);
    std::string got;
    for (std::size_t n; (n = decoder.decode_step()) > 0;) {
        EXPECT_LE(n, 32768u);
        EXPECT_EQ(decoder.output_end() - decoder.output_begin(), static_cast<std::ptrdiff_t>(n));
        got.append(decoder.output_begin(), n);
    }
    EXPECT_TRUE(got == plain);
    EXPECT_EQ(decoder.bytes_produced(), plain.size());
    std::string rest;
    std::getline(source, rest);
    EXPECT_EQ(rest, "TRAILING BYTES");
}

TEST(Decoders, SubStreamCannotReadOutsideItsWindow) {
    std::istringstream source("0123456789abcdefghij", std::ios::binary);
    isubstream window(source, 5, 10);
    EXPECT_EQ(ReadAll(window, 3), "56789abcde");
    isubstream pastEnd(source, 15, 100);
    EXPECT_EQ(ReadAll(pastEnd), "fghij");
}

// Traditional encryption, with headers built by an independent encryptor.
TEST(Decryption, HeaderCheckByteDecidesAndDataDecrypts) {
    const std::string plain = "the plain text of an encrypted entry";
    const std::string header = std::string("\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB", 11) + "\xC7";
    const std::string cipher = PkwareEncrypt("secret", header, plain);
    struct Case {
        const char* password;
        std::uint8_t checkByte;
        bool accepted;
    } cases[] = {{"secret", 0xC7, true}, {"secret", 0xC8, false}, {"Secret", 0xC7, false}};
    for (const auto& row : cases) {
        SCOPED_TRACE(row.password + std::string(" check ") + std::to_string(row.checkByte));
        std::istringstream source(cipher, std::ios::binary);
        zip_cryptostream stream(source, row.password);
        stream.set_check_byte(row.checkByte);
        EXPECT_EQ(stream.verify_header(), row.accepted);
        if (row.accepted) {
            EXPECT_EQ(ReadAll(stream, 7), plain);
        }
    }
}

TEST(Decryption, CheckByteComesFromTheCrcOrTheTimeWithADataDescriptor) {
    const std::string plain = SampleText(70000);
    BuiltArchive built;
    BuiltEntry byCrc = DeflatedEntry("by-crc", plain);
    byCrc.flags = 0x0001;
    BuiltEntry byTime = DeflatedEntry("by-time", plain);
    byTime.flags = 0x0009;
    byTime.modTime = 0xA55A;
    BuiltEntry wrongCheck = byCrc;
    wrongCheck.name = "wrong-check";
    const std::string head(11, '\x42');
    byCrc.payload = PkwareEncrypt("pw", head + static_cast<char>(byCrc.crc >> 24), byCrc.payload);
    byTime.payload = PkwareEncrypt("pw", head + '\xA5', byTime.payload);
    wrongCheck.payload = PkwareEncrypt("pw", head + static_cast<char>((wrongCheck.crc >> 24) ^ 1), wrongCheck.payload);
    built.entries = {byCrc, byTime, wrongCheck};
    const auto archive = ArchiveFromBytes(BuildZip(built));
    EXPECT_EQ(archive->EntryAt(0)->PasswordCheckByte(), static_cast<std::uint8_t>(byCrc.crc >> 24));
    EXPECT_EQ(archive->EntryAt(1)->PasswordCheckByte(), 0xA5);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(archive->EntryAt(i)->OpenDataStream(), nullptr) << "no password: " << i;
        archive->EntryAt(i)->SetPassword("wrong");
        EXPECT_EQ(archive->EntryAt(i)->OpenDataStream(), nullptr) << "wrong password: " << i;
        archive->EntryAt(i)->SetPassword("pw");  // a refused open left no chain behind
    }
    EXPECT_TRUE(DataOf(*archive->EntryAt(0)) == plain);
    EXPECT_TRUE(DataOf(*archive->EntryAt(1)) == plain);
    EXPECT_EQ(archive->EntryAt(2)->OpenDataStream(), nullptr);
}

}  // namespace
