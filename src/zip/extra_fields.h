#pragma once
// The extra-field items the reader acts on: ZIP64 extended information (APPNOTE 4.5.3), which
// holds the 64-bit values of sizes and offsets stored as 0xFFFFFFFF, and the Unicode Path field
// (APPNOTE 4.6.9), which holds the UTF-8 name of an entry whose name field uses another encoding.

#include <cstdint>
#include <optional>
#include <string>

#include "zip/zip_records.h"

constexpr std::uint16_t kExtraZip64 = 0x0001;
constexpr std::uint16_t kExtraUnicodePath = 0x7075;
// A 32-bit size or offset of this value stands for the one in the ZIP64 field.
constexpr std::uint32_t kZip64Placeholder = 0xFFFFFFFFu;

// What a central record says of an entry's bytes, with every placeholder replaced.
struct EntryExtent {
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t localHeaderOffset = 0;
};

// The central record's sizes and local header offset. A field that holds the placeholder takes
// its value from the ZIP64 field, which lists uncompressed size, compressed size and offset in
// that order, each only when its field holds the placeholder. Empty when the ZIP64 field is too
// short for them; a record without any ZIP64 field keeps its 32-bit values.
std::optional<EntryExtent> CentralExtent(const ZipCentralRecord& record);

// The local record's compressed and uncompressed size, resolved the same way.
struct LocalSizes {
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
};
std::optional<LocalSizes> LocalRecordSizes(const ZipLocalRecord& record);

// The UTF-8 name of a Unicode Path field of version 1 whose CRC-32 is that of |storedName| (the
// raw name field); empty when there is none, its CRC-32 differs (the name was changed by a
// writer that did not know the field), or it is not valid UTF-8.
std::optional<std::string> UnicodePathName(const ZipExtraItems& items, const std::string& storedName);

// Well-formed UTF-8: no overlong forms, surrogates or values above U+10FFFF.
bool IsValidUtf8(const std::string& text);
