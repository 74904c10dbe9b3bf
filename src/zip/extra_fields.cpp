#include "zip/extra_fields.h"

#include <zlib.h>

#include <initializer_list>
#include <utility>

#include "zip/le_bytes.h"

namespace {

const ZipExtraItem* FindItem(const ZipExtraItems& items, std::uint16_t tag) {
    for (const ZipExtraItem& item : items)
        if (item.tag == tag) return &item;
    return nullptr;
}

// Replaces each placeholder among |fields| (in the ZIP64 field's order) by the next 8 bytes of
// the ZIP64 field; false when that field is too short.
bool ResolvePlaceholders(const ZipExtraItems& items,
                         std::initializer_list<std::pair<std::uint32_t, std::uint64_t*>> fields) {
    const ZipExtraItem* zip64 = FindItem(items, kExtraZip64);
    std::size_t at = 0;
    for (const auto& [stored, resolved] : fields) {
        if (stored != kZip64Placeholder) {
            *resolved = stored;
            continue;
        }
        // Without any ZIP64 field the value is taken as it stands, as classic readers take it.
        if (!zip64) {
            *resolved = stored;
            continue;
        }
        if (zip64->data.size() < at + 8) return false;
        *resolved = LeAt<std::uint64_t>(zip64->data, at);
        at += 8;
    }
    return true;
}

}  // namespace

std::optional<EntryExtent> CentralExtent(const ZipCentralRecord& record) {
    EntryExtent extent;
    if (!ResolvePlaceholders(record.extraItems, {{record.uncompressedSize, &extent.uncompressedSize},
                                                 {record.compressedSize, &extent.compressedSize},
                                                 {record.localHeaderOffset, &extent.localHeaderOffset}}))
        return std::nullopt;
    return extent;
}

std::optional<LocalSizes> LocalRecordSizes(const ZipLocalRecord& record) {
    LocalSizes sizes;
    if (!ResolvePlaceholders(record.extraItems, {{record.uncompressedSize, &sizes.uncompressedSize},
                                                 {record.compressedSize, &sizes.compressedSize}}))
        return std::nullopt;
    return sizes;
}

std::optional<std::string> UnicodePathName(const ZipExtraItems& items, const std::string& storedName) {
    const ZipExtraItem* item = FindItem(items, kExtraUnicodePath);
    if (!item || item->data.size() < 5 || item->data[0] != 1) return std::nullopt;
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(storedName.data()),
                            static_cast<uInt>(storedName.size()));
    if (LeAt<std::uint32_t>(item->data, 1) != static_cast<std::uint32_t>(crc)) return std::nullopt;
    std::string name = item->data.substr(5);
    if (!IsValidUtf8(name)) return std::nullopt;
    return name;
}

bool IsValidUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xE  ? 3
                                   : (lead >> 3) == 0x1E ? 4
                                                         : 0;
        if (length == 0 || i + length > text.size()) return false;
        std::uint32_t value = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            value = (value << 6) | (next & 0x3F);
        }
        static const std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}
