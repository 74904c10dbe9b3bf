#include "zip/zip_archive.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
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
    std::shared_ptr<ZipArchive> archive = FromStream(file.release(), true);
    archive->m_path = NativePath(path);
    return archive;
}

std::unique_ptr<std::istream> ZipArchive::OpenAnotherReader() const {
    if (m_path.empty()) return nullptr;
    auto file = std::make_unique<std::ifstream>(m_path, std::ios::in | std::ios::binary);
    if (!file->is_open()) return nullptr;
    return file;
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
    if (index >= EntryCount()) throw std::out_of_range("no such entry in the archive");
    auto found = m_handedOut.find(index);
    if (found == m_handedOut.end()) {
        if (m_handedOut.size() >= m_dropAt) DropIdleEntries();
        if (!m_walk) m_walk = std::make_unique<DirectoryWalk>(*this);
        found = m_handedOut.emplace(index, std::shared_ptr<ZipArchiveEntry>(m_walk->Read(index))).first;
    }
    // Whoever holds the entry keeps the archive alive too; the archive's own reference tells
    // DropIdleEntries whether anyone does.
    return std::shared_ptr<ZipArchiveEntry>(
        found->second.get(), [archive = shared_from_this(), entry = found->second](ZipArchiveEntry*) mutable {
            entry.reset();
            archive.reset();
        });
}

void ZipArchive::DropIdleEntries() {
    constexpr std::size_t kFewest = 64;  // dropped in rounds, so that EntryAt stays O(log n)
    for (auto it = m_handedOut.begin(); it != m_handedOut.end();)
        it = it->second.use_count() == 1 && it->second->IsIdle() ? m_handedOut.erase(it) : std::next(it);
    m_dropAt = std::max(kFewest, 2 * m_handedOut.size());
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
    for (DirectoryRecord read;;) {
        const RecordKind kind = ReadDirectoryRecord(in, read);
        if (kind == RecordKind::NotARecord) break;
        if (kind == RecordKind::Zip64ValueMissing) {
            m_problem = DirectoryProblem::Zip64ValueMissing;
            return;
        }
        if (kind == RecordKind::Usable) {
            m_checkpoints.Add(position);
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
    if (m_problem == DirectoryProblem::None && EntryCount() == 0 && m_unnamedRecords == 0)
        m_problem = DirectoryProblem::NoEntries;
}
