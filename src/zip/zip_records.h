#pragma once
// The three record formats of the ZIP container and its generic extra field (APPNOTE 4.3.7,
// 4.3.12, 4.3.16 and 4.5). Each record is read field by field, every field with a read of exactly
// its width, so a short read leaves the stream failed and ends the record.

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

// One element of an extra field, kept as read; extra_fields.h interprets the ZIP64 and the
// Unicode Path items.
struct ZipExtraItem {
    std::uint16_t tag = 0;
    std::string data;
};
using ZipExtraItems = std::vector<ZipExtraItem>;

// End of central directory record (APPNOTE 4.3.16).
struct ZipEndRecord {
    static constexpr std::uint32_t kSignature = 0x06054b50;
    static constexpr std::uint32_t kFixedSize = 22;

    std::uint32_t signature = kSignature;
    std::uint16_t diskNumber = 0;
    std::uint16_t directoryDisk = 0;
    std::uint16_t diskEntries = 0;
    std::uint16_t totalEntries = 0;
    std::uint32_t directorySize = 0;
    std::uint32_t directoryOffset = 0;
    std::uint16_t commentLength = 0;
    std::string comment;
};

// ZIP64 end of central directory record (APPNOTE 4.3.14); its extensible data is not kept.
struct Zip64EndRecord {
    static constexpr std::uint32_t kSignature = 0x06064b50;
    static constexpr std::uint32_t kFixedSize = 56;

    std::uint32_t signature = kSignature;
    std::uint64_t recordSize = 0;  // of the rest of the record, after this field
    std::uint16_t versionMadeBy = 0;
    std::uint16_t versionNeeded = 0;
    std::uint32_t diskNumber = 0;
    std::uint32_t directoryDisk = 0;
    std::uint64_t diskEntries = 0;
    std::uint64_t totalEntries = 0;
    std::uint64_t directorySize = 0;
    std::uint64_t directoryOffset = 0;
};

// ZIP64 end of central directory locator (APPNOTE 4.3.15): right before the end record.
struct Zip64Locator {
    static constexpr std::uint32_t kSignature = 0x07064b50;
    static constexpr std::uint32_t kFixedSize = 20;

    std::uint32_t signature = kSignature;
    std::uint32_t directoryDisk = 0;
    std::uint64_t endRecordOffset = 0;  // of the ZIP64 end record, from the start of the file
    std::uint32_t totalDisks = 0;
};

// Central directory file header (APPNOTE 4.3.12).
struct ZipCentralRecord {
    static constexpr std::uint32_t kSignature = 0x02014b50;
    static constexpr std::uint32_t kFixedSize = 46;

    std::uint32_t signature = kSignature;
    std::uint16_t versionMadeBy = 0;
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t modTime = 0;
    std::uint16_t modDate = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t extraLength = 0;
    std::uint16_t commentLength = 0;
    std::uint16_t diskNumberStart = 0;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    std::uint32_t localHeaderOffset = 0;
    std::string fileName;
    ZipExtraItems extraItems;
    std::string comment;
};

// Local file header (APPNOTE 4.3.7).
struct ZipLocalRecord {
    static constexpr std::uint32_t kSignature = 0x04034b50;
    static constexpr std::uint32_t kFixedSize = 30;

    std::uint32_t signature = kSignature;
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t modTime = 0;
    std::uint16_t modDate = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t extraLength = 0;
    std::string fileName;
    ZipExtraItems extraItems;
};

// General purpose bit flag (APPNOTE 4.4.4).
constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
constexpr std::uint16_t kFlagUtf8Names = 0x0800;

// Each reader returns true when a complete record with the right signature was read. On a wrong
// signature or a short fixed part it clears the stream's error state, so that later seeks on the
// shared archive stream still work, and returns false.
bool ReadEndRecord(std::istream& in, ZipEndRecord& record);
bool ReadZip64EndRecord(std::istream& in, Zip64EndRecord& record);
bool ReadZip64Locator(std::istream& in, Zip64Locator& record);
bool ReadCentralRecord(std::istream& in, ZipCentralRecord& record);
bool ReadLocalRecord(std::istream& in, ZipLocalRecord& record);
