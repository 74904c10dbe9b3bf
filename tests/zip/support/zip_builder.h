#pragma once
// Builds ZIP archives byte by byte, for the shapes no ZIP writer produces: every field of the
// records can be set or broken on purpose.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

std::uint32_t Crc32Of(const std::string& bytes);
std::string RawDeflate(const std::string& plain);
std::string Bzip2Compress(const std::string& plain, int blockSize100k);
// Traditional PKWARE encryption of |plain| under |password| with the given 12-byte header whose
// last byte is the check byte.
std::string PkwareEncrypt(const std::string& password, std::string header12, const std::string& plain);
// Reproducible bytes that do not compress.
std::string NoiseBytes(std::size_t size, std::uint32_t seed);
// Text that compresses well.
std::string SampleText(std::size_t size);

struct BuiltEntry {
    std::string name;     // the central record's name, stored as it is
    std::string payload;  // the bytes after the local header (compressed/encrypted already)
    std::uint16_t method = 0;
    std::uint16_t flags = 0;
    std::uint16_t versionNeeded = 20;
    std::uint16_t versionMadeBy = 0x031E;  // host in the high byte: 3 Unix, 0 MS-DOS, 10 NTFS
    std::uint16_t modTime = 0x6000;
    std::uint16_t modDate = 0x5821;
    std::uint32_t crc = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint32_t externalAttributes = 0;
    std::string centralExtra;
    std::string localExtra;
    std::string comment;
    std::optional<std::string> localName;            // the local record's name, when it differs
    std::optional<std::uint32_t> localHeaderOffset;  // where the central record points
    bool brokenLocalSignature = false;
};

BuiltEntry StoredEntry(const std::string& name, const std::string& plain);
BuiltEntry DeflatedEntry(const std::string& name, const std::string& plain);
BuiltEntry Bzip2Entry(const std::string& name, const std::string& plain, int blockSize100k = 9);
BuiltEntry FolderEntry(const std::string& name);

struct BuiltArchive {
    std::vector<BuiltEntry> entries;
    std::string comment;
    std::optional<std::uint16_t> commentLength;  // the end record's length field, when it lies
    std::optional<std::uint16_t> totalEntries;   // the end record's counts, when they lie
    std::string trailer;                         // raw bytes after the end record
    std::string prefix;                          // raw bytes in front of the archive
    bool offsetsCountPrefix = false;             // whether the stated offsets include the prefix
};

std::string BuildZip(const BuiltArchive& archive);

// Little-endian pieces, for records built by hand.
std::string Le16(std::uint16_t value);
std::string Le32(std::uint32_t value);
std::string ExtraItem(std::uint16_t tag, const std::string& data);
