#include "zip/zip_archive_entry.h"

#include <algorithm>

#include "zip/entry_data_chain.h"
#include "zip/methods.h"
#include "zip/zip_archive.h"

namespace {

// Hosts of "version made by" whose external attributes are MS-DOS attributes (APPNOTE 4.4.2.2):
// MS-DOS and OS/2 FAT, Windows NTFS, VFAT.
bool HasDosAttributes(std::uint16_t versionMadeBy) {
    const unsigned host = versionMadeBy >> 8;
    return host == 0 || host == 10 || host == 14;
}

}  // namespace

bool ZipArchiveEntry::IsValidEntryName(const std::string& name) {
    return name.find_first_not_of("/\\") != std::string::npos;
}

ZipArchiveEntry::UsedName ZipArchiveEntry::NameToUse(const ZipCentralRecord& record) {
    if (auto unicode = UnicodePathName(record.extraItems, record.fileName)) return {std::move(*unicode), true};
    return {record.fileName, (record.flags & kFlagUtf8Names) != 0};
}

ZipArchiveEntry::ZipArchiveEntry(ZipArchive* archive, const ZipCentralRecord& record, const EntryExtent& extent,
                                 const UsedName& usedName, std::streamoff recordOffset)
    : m_archive(archive),
      m_centralRecordOffset(static_cast<std::uint64_t>(recordOffset)),
      m_compressedSize(extent.compressedSize),
      m_uncompressedSize(extent.uncompressedSize),
      m_localHeaderOffset(extent.localHeaderOffset),
      m_crc32(record.crc32),
      m_externalAttributes(record.externalAttributes),
      m_versionNeeded(record.versionNeeded),
      m_flags(record.flags),
      m_method(record.method),
      m_modTime(record.modTime),
      m_utf8Name(usedName.utf8) {
    std::string name = usedName.name;
    // Old Windows writers mark a folder by its attribute only, without the trailing slash.
    const bool folderByAttribute = extent.uncompressedSize == 0 && (record.externalAttributes & kDirectoryBit) != 0 &&
                                   HasDosAttributes(record.versionMadeBy);
    if (folderByAttribute && !name.empty() && name.back() != '/' && name.back() != '\\') name += '/';
    NormalizeAndSetName(name);
}

ZipArchiveEntry::~ZipArchiveEntry() = default;

std::string ZipArchiveEntry::ShortName() const {
    const auto slash = m_fullName.rfind('/');
    return slash == std::string::npos ? m_fullName : m_fullName.substr(slash + 1);
}

void ZipArchiveEntry::NormalizeAndSetName(const std::string& name) {
    std::string path = name;
    std::replace(path.begin(), path.end(), '\\', '/');
    const std::uint32_t kind = !path.empty() && path.back() == '/' ? kDirectoryBit : kFileBit;
    m_absoluteName = !path.empty() && path.front() == '/';
    path.erase(0, path.find_first_not_of('/'));
    path.erase(std::unique(path.begin(), path.end(), [](char a, char b) { return a == '/' && b == '/'; }), path.end());
    m_fullName = path;
    MergeKindBits(kind);
}

void ZipArchiveEntry::MergeKindBits(std::uint32_t kind) {
    if (kind == kDirectoryBit) {
        m_externalAttributes = (m_externalAttributes | kDirectoryBit) & ~kFileBit;
        if (m_fullName.empty() || m_fullName.back() != '/') m_fullName += '/';
        m_crc32 = 0;
        m_compressedSize = 0;
        m_uncompressedSize = 0;
    } else if (kind == kFileBit) {
        m_externalAttributes = (m_externalAttributes | kFileBit) & ~kDirectoryBit;
        if (!m_fullName.empty() && m_fullName.back() == '/') m_fullName.pop_back();
    }
}

std::string ZipArchiveEntry::Comment() const {
    std::istream& in = m_archive->SourceStream();
    in.clear();
    in.seekg(static_cast<std::streamoff>(m_centralRecordOffset));
    ZipCentralRecord record;
    return ReadCentralRecord(in, record) ? record.comment : std::string();
}

ZipExtraItems ZipArchiveEntry::ExtraItems() const {
    std::istream& in = m_archive->SourceStream();
    in.clear();
    in.seekg(static_cast<std::streamoff>(m_centralRecordOffset));
    ZipCentralRecord record;
    return ReadCentralRecord(in, record) ? record.extraItems : ZipExtraItems();
}

ZipLocalRecord ZipArchiveEntry::LocalRecord() const {
    ZipLocalRecord local;
    if (m_localHeader == LocalHeader::Unusable) return local;
    std::istream& in = m_archive->SourceStream();
    in.clear();
    in.seekg(LocalHeaderPosition());
    if (!ReadLocalRecord(in, local)) return ZipLocalRecord{};
    // The central directory is the authority for everything but the local lengths (APPNOTE 4.4).
    local.versionNeeded = m_versionNeeded;
    local.flags = m_flags;
    local.method = m_method;
    local.modTime = m_modTime;
    local.crc32 = m_crc32;
    // Sizes beyond 32 bits keep the placeholder, as in a ZIP64 record.
    local.compressedSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(m_compressedSize, kZip64Placeholder));
    local.uncompressedSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(m_uncompressedSize, kZip64Placeholder));
    local.fileName = m_fullName;
    local.nameLength = static_cast<std::uint16_t>(local.fileName.size());
    return local;
}

std::streamoff ZipArchiveEntry::LocalHeaderPosition() const {
    // An offset beyond every file stays beyond it (a ZIP64 offset may use all 64 bits).
    constexpr std::uint64_t kFarthest = std::uint64_t(1) << 62;
    return static_cast<std::streamoff>(std::min(m_localHeaderOffset, kFarthest)) + m_archive->OffsetShift();
}

bool ZipArchiveEntry::LoadLocalHeader() { return LoadLocalHeaderFrom(m_archive->SourceStream()); }

bool ZipArchiveEntry::LoadLocalHeaderFrom(std::istream& in) {
    if (m_localHeader != LocalHeader::Unread) return m_localHeader == LocalHeader::Valid;
    in.clear();
    in.seekg(LocalHeaderPosition());
    ZipLocalRecord local;
    const bool valid = ReadLocalRecord(in, local);
    m_localHeader = valid ? LocalHeader::Valid : LocalHeader::Unusable;
    if (!valid) return false;
    m_localHeaderLength = ZipLocalRecord::kFixedSize + local.nameLength + std::uint32_t(local.extraLength);
    // Only the sizes of a ZIP64 local header are compared, so classic archives read as they
    // always did; the central directory stays the authority for what is extracted.
    const bool zip64Sizes = local.compressedSize == kZip64Placeholder || local.uncompressedSize == kZip64Placeholder;
    if (zip64Sizes && (local.flags & kFlagDataDescriptor) == 0 && !IsDirectoryEntry()) {
        const std::optional<LocalSizes> sizes = LocalRecordSizes(local);
        m_localSizesDisagree =
            !sizes || sizes->compressedSize != m_compressedSize || sizes->uncompressedSize != m_uncompressedSize;
    }
    return true;
}

std::optional<std::streamoff> ZipArchiveEntry::DataOffset() {
    LoadLocalHeader();
    return LoadedDataOffset();
}

std::optional<std::streamoff> ZipArchiveEntry::LoadedDataOffset() const {
    if (m_localHeader != LocalHeader::Valid) return std::nullopt;
    return LocalHeaderPosition() + static_cast<std::streamoff>(m_localHeaderLength);
}

void ZipArchiveEntry::SetPassword(std::string password) {
    if (!m_open) m_open = std::make_unique<OpenState>();
    m_open->password = std::move(password);
}

std::optional<std::string> ZipArchiveEntry::UnreadableReason() const {
    if (m_flags & kFlagEncrypted) return "it is encrypted";
    if (NeedsNewerReader())
        return "it needs a newer ZIP reader (version " + std::to_string((m_versionNeeded & 0xFF) / 10) + "." +
               std::to_string((m_versionNeeded & 0xFF) % 10) + ")";
    if (m_method != 0 && !MethodForId(m_method))
        return "its compression method " + std::to_string(m_method) + " is not supported";
    return std::nullopt;
}
