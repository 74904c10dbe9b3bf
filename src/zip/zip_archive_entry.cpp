#include "zip/zip_archive_entry.h"

#include <algorithm>

#include "zip/zip_archive.h"

std::shared_ptr<ZipArchiveEntry> ZipArchiveEntry::FromCentralRecord(ZipArchive* archive, const ZipCentralRecord& record) {
    if (!IsValidEntryName(record.fileName)) return nullptr;
    auto entry = std::make_shared<ZipArchiveEntry>(PrivateTag{}, archive, record);
    entry->NormalizeAndSetName(record.fileName);
    entry->MergeKindBits(entry->IsDirectoryEntry() ? kDirectoryBit : kFileBit);
    return entry;
}

bool ZipArchiveEntry::IsValidEntryName(const std::string& name) {
    return name.find_first_not_of("/\\") != std::string::npos;
}

ZipArchiveEntry::ZipArchiveEntry(PrivateTag, ZipArchive* archive, const ZipCentralRecord& record)
    : m_archive(archive), m_fromArchive(true), m_central(record) {}

void ZipArchiveEntry::NormalizeAndSetName(const std::string& name) {
    std::string path = name;
    std::replace(path.begin(), path.end(), '\\', '/');
    const std::uint32_t kind = !path.empty() && path.back() == '/' ? kDirectoryBit : kFileBit;
    path.erase(0, path.find_first_not_of('/'));
    path.erase(std::unique(path.begin(), path.end(), [](char a, char b) { return a == '/' && b == '/'; }), path.end());
    m_central.fileName = path;
    m_central.nameLength = static_cast<std::uint16_t>(path.size());
    const auto slash = path.rfind('/');
    m_shortName = slash == std::string::npos ? path : path.substr(slash + 1);
    MergeKindBits(kind);
}

void ZipArchiveEntry::MergeKindBits(std::uint32_t kind) {
    std::string& name = m_central.fileName;
    if (kind == kDirectoryBit) {
        m_central.externalAttributes = (m_central.externalAttributes | kDirectoryBit) & ~kFileBit;
        if (name.empty() || name.back() != '/') name += '/';
        m_central.crc32 = 0;
        m_central.compressedSize = 0;
        m_central.uncompressedSize = 0;
    } else if (kind == kFileBit) {
        m_central.externalAttributes = (m_central.externalAttributes | kFileBit) & ~kDirectoryBit;
        if (!name.empty() && name.back() == '/') name.pop_back();
    }
    m_central.nameLength = static_cast<std::uint16_t>(name.size());
}

bool ZipArchiveEntry::LoadLocalHeader() {
    if (m_localHeaderLoaded || !m_fromArchive) return m_localHeaderValid;
    m_localHeaderLoaded = true;
    std::istream& in = m_archive->SourceStream();
    in.clear();
    in.seekg(static_cast<std::streamoff>(m_central.localHeaderOffset));
    m_localHeaderValid = ReadLocalRecord(in, m_local);
    if (!m_localHeaderValid) return false;
    m_dataOffset = static_cast<std::streamoff>(in.tellg());
    // The central directory is the authority for everything but the local lengths (APPNOTE 4.4).
    m_local.versionNeeded = m_central.versionNeeded;
    m_local.flags = m_central.flags;
    m_local.method = m_central.method;
    m_local.modTime = m_central.modTime;
    m_local.modDate = m_central.modDate;
    m_local.crc32 = m_central.crc32;
    m_local.compressedSize = m_central.compressedSize;
    m_local.uncompressedSize = m_central.uncompressedSize;
    m_local.fileName = m_central.fileName;
    m_local.nameLength = static_cast<std::uint16_t>(m_local.fileName.size());
    return true;
}

std::optional<std::streamoff> ZipArchiveEntry::DataOffset() {
    LoadLocalHeader();
    return m_dataOffset;
}
