#include "zip/zip_archive.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "common/text.h"
#include "zip/end_record.h"

namespace {

std::filesystem::path NativePath(const std::wstring& path) {
#ifdef _WIN32
    return std::filesystem::path(path);
#else
    return std::filesystem::path(WideToUtf8(path));
#endif
}

// The first four bytes of a local header: the file starts like an archive.
bool StartsWithLocalHeader(std::istream& in) {
    unsigned char bytes[4] = {};
    in.clear();
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes), 4);
    const bool starts =
        in.gcount() == 4 && bytes[0] == 0x50 && bytes[1] == 0x4B && bytes[2] == 0x03 && bytes[3] == 0x04;
    in.clear();
    return starts;
}

}  // namespace

const char* DescribeDirectoryProblem(DirectoryProblem problem) {
    switch (problem) {
        case DirectoryProblem::None:
            return "is a readable ZIP archive";
        case DirectoryProblem::NotAnArchive:
            return "is not a ZIP archive";
        case DirectoryProblem::EndsBeforeDirectory:
            return "ends before its central directory";
        case DirectoryProblem::DamagedDirectory:
            return "has a damaged central directory";
        case DirectoryProblem::Zip64LocatorPointsNowhere:
            return "is corrupt: its ZIP64 end record is not where its locator points";
        case DirectoryProblem::Zip64RecordsDisagree:
            return "is corrupt: its end record and its ZIP64 end record state different central directories";
        case DirectoryProblem::Zip64ValueMissing:
            return "is corrupt: a central directory record lacks the ZIP64 size or offset it refers to";
        case DirectoryProblem::NoEntries:
            return "holds no entries";
    }
    return "is not a ZIP archive";
}

std::shared_ptr<ZipArchive> ZipArchive::OpenFromFile(const std::wstring& path) {
    auto file = std::make_unique<std::ifstream>(NativePath(path), std::ios::in | std::ios::binary);
    if (!file->is_open()) throw std::runtime_error("Cannot open zip file");
    return FromStream(file.release(), true);
}

std::shared_ptr<ZipArchive> ZipArchive::FromStream(std::istream* stream, bool owns) {
    auto archive = std::make_shared<ZipArchive>(PrivateTag{}, stream, owns && stream != nullptr);
    if (stream) {
        archive->LocateEndRecord();
        archive->LoadCentralDirectory();
    }
    return archive;
}

ZipArchive::ZipArchive(PrivateTag, std::istream* stream, bool owns) : m_stream(stream) {
    if (owns) m_ownedStream.reset(stream);
}

std::shared_ptr<ZipArchiveEntry> ZipArchive::EntryAt(std::size_t index) {
    return std::shared_ptr<ZipArchiveEntry>(shared_from_this(), &m_entries.at(index));
}

bool ZipArchive::LocateEndRecord() {
    const std::optional<EndRecordLocation> location = FindEndRecord(*m_stream);
    if (!location) {
        m_problem =
            StartsWithLocalHeader(*m_stream) ? DirectoryProblem::EndsBeforeDirectory : DirectoryProblem::NotAnArchive;
        return false;
    }
    m_endRecord = location->record;
    m_endRecordOffset = location->offset;
    m_shift = location->shift;
    m_directoryOffset = location->directoryOffset;
    m_directorySize = location->directorySize;
    m_zip64 = location->zip64Offset >= 0;
    if (location->zip64Problem == Zip64Problem::LocatorPointsNowhere)
        m_problem = DirectoryProblem::Zip64LocatorPointsNowhere;
    if (location->zip64Problem == Zip64Problem::RecordsDisagree) m_problem = DirectoryProblem::Zip64RecordsDisagree;
    return true;
}

void ZipArchive::LoadCentralDirectory() {
    if (m_endRecordOffset < 0 || m_problem != DirectoryProblem::None) return;
    std::istream& in = *m_stream;
    const std::streamoff start = static_cast<std::streamoff>(m_directoryOffset) + m_shift;
    in.clear();
    in.seekg(start);
    std::streamoff position = start;
    for (ZipCentralRecord record; ReadCentralRecord(in, record); record = ZipCentralRecord{}) {
        const std::optional<EntryExtent> extent = CentralExtent(record);
        if (!extent) {
            m_problem = DirectoryProblem::Zip64ValueMissing;
            return;
        }
        ZipArchiveEntry::UsedName name = ZipArchiveEntry::NameToUse(record);
        if (ZipArchiveEntry::IsValidEntryName(name.name)) {
            m_entries.emplace_back(this, record, *extent, name, position);
        } else {
            ++m_unnamedRecords;
        }
        position = static_cast<std::streamoff>(in.tellg());
    }
    // The walk must end where the directory ends (without a ZIP64 end record, a size of
    // 0xFFFFFFFF is a placeholder that states nothing).
    const bool sizeKnown = m_zip64 || m_directorySize != 0xFFFFFFFFu;
    const std::streamoff statedEnd = start + static_cast<std::streamoff>(m_directorySize);
    if (sizeKnown && position != statedEnd) m_problem = DirectoryProblem::DamagedDirectory;
    if (m_problem == DirectoryProblem::None && m_entries.empty() && m_unnamedRecords == 0)
        m_problem = DirectoryProblem::NoEntries;
}
