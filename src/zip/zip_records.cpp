#include "zip/zip_records.h"

namespace {

// Little-endian unsigned field of exactly sizeof(Field) bytes.
template <typename Field>
void ReadField(std::istream& in, Field& value) {
    unsigned char bytes[sizeof(Field)] = {};
    in.read(reinterpret_cast<char*>(bytes), sizeof(Field));
    Field result = 0;
    for (std::size_t i = sizeof(Field); i-- > 0;) result = static_cast<Field>((result << 8) | bytes[i]);
    value = result;
}

void ReadBytes(std::istream& in, std::size_t count, std::string& text) {
    text.assign(count, '\0');
    if (count == 0) return;
    in.read(text.data(), static_cast<std::streamsize>(count));
    text.resize(static_cast<std::size_t>(in.gcount()));
}

// Reads the declared area whole (one read, no seeks), then takes items from it until one does
// not fit: fewer than its 4 header bytes, or fewer than its declared data bytes, remain. What
// follows such an item is passed over (APPNOTE 4.5.1).
void ReadExtraArea(std::istream& in, std::uint16_t length, ZipExtraItems& items) {
    if (length == 0 || in.fail()) return;
    std::string area;
    ReadBytes(in, length, area);
    if (in.fail()) return;
    const auto byteAt = [&area](std::size_t at) { return static_cast<unsigned char>(area[at]); };
    for (std::size_t at = 0; area.size() - at >= 4;) {
        ZipExtraItem item;
        item.tag = static_cast<std::uint16_t>(byteAt(at) | byteAt(at + 1) << 8);
        const std::size_t size = static_cast<std::size_t>(byteAt(at + 2)) | static_cast<std::size_t>(byteAt(at + 3))
                                                                                << 8;
        if (area.size() - at - 4 < size) break;
        item.data = area.substr(at + 4, size);
        items.push_back(std::move(item));
        at += 4 + size;
    }
}

bool Reject(std::istream& in) {
    in.clear();
    return false;
}

}  // namespace

bool ReadEndRecord(std::istream& in, ZipEndRecord& record) {
    ReadField(in, record.signature);
    ReadField(in, record.diskNumber);
    ReadField(in, record.directoryDisk);
    ReadField(in, record.diskEntries);
    ReadField(in, record.totalEntries);
    ReadField(in, record.directorySize);
    ReadField(in, record.directoryOffset);
    ReadField(in, record.commentLength);
    if (in.fail() || record.signature != ZipEndRecord::kSignature) return false;
    ReadBytes(in, record.commentLength, record.comment);
    return !in.fail();
}

bool ReadZip64EndRecord(std::istream& in, Zip64EndRecord& record) {
    ReadField(in, record.signature);
    ReadField(in, record.recordSize);
    ReadField(in, record.versionMadeBy);
    ReadField(in, record.versionNeeded);
    ReadField(in, record.diskNumber);
    ReadField(in, record.directoryDisk);
    ReadField(in, record.diskEntries);
    ReadField(in, record.totalEntries);
    ReadField(in, record.directorySize);
    ReadField(in, record.directoryOffset);
    if (in.fail() || record.signature != Zip64EndRecord::kSignature) return Reject(in);
    return true;
}

bool ReadZip64Locator(std::istream& in, Zip64Locator& record) {
    ReadField(in, record.signature);
    ReadField(in, record.directoryDisk);
    ReadField(in, record.endRecordOffset);
    ReadField(in, record.totalDisks);
    if (in.fail() || record.signature != Zip64Locator::kSignature) return Reject(in);
    return true;
}

bool ReadCentralRecord(std::istream& in, ZipCentralRecord& record) {
    ReadField(in, record.signature);
    ReadField(in, record.versionMadeBy);
    ReadField(in, record.versionNeeded);
    ReadField(in, record.flags);
    ReadField(in, record.method);
    ReadField(in, record.modTime);
    ReadField(in, record.modDate);
    ReadField(in, record.crc32);
    ReadField(in, record.compressedSize);
    ReadField(in, record.uncompressedSize);
    ReadField(in, record.nameLength);
    ReadField(in, record.extraLength);
    ReadField(in, record.commentLength);
    ReadField(in, record.diskNumberStart);
    ReadField(in, record.internalAttributes);
    ReadField(in, record.externalAttributes);
    ReadField(in, record.localHeaderOffset);
    if (in.fail() || record.signature != ZipCentralRecord::kSignature) return Reject(in);
    ReadBytes(in, record.nameLength, record.fileName);
    ReadExtraArea(in, record.extraLength, record.extraItems);
    ReadBytes(in, record.commentLength, record.comment);
    // A record cut short by the end of the file is not a record: the walk stops here.
    if (in.fail()) return Reject(in);
    return true;
}

bool ReadLocalRecord(std::istream& in, ZipLocalRecord& record) {
    ReadField(in, record.signature);
    ReadField(in, record.versionNeeded);
    ReadField(in, record.flags);
    ReadField(in, record.method);
    ReadField(in, record.modTime);
    ReadField(in, record.modDate);
    ReadField(in, record.crc32);
    ReadField(in, record.compressedSize);
    ReadField(in, record.uncompressedSize);
    ReadField(in, record.nameLength);
    ReadField(in, record.extraLength);
    if (in.fail() || record.signature != ZipLocalRecord::kSignature) return Reject(in);
    ReadBytes(in, record.nameLength, record.fileName);
    ReadExtraArea(in, record.extraLength, record.extraItems);
    if (in.fail()) return Reject(in);
    return true;
}
