#include "zip/directory_walk.h"

#include <stdexcept>

#include "zip/zip_archive.h"

RecordKind ReadDirectoryRecord(std::istream& in, DirectoryRecord& out) {
    out.record = ZipCentralRecord{};
    if (!ReadCentralRecord(in, out.record)) return RecordKind::NotARecord;
    const std::optional<EntryExtent> extent = CentralExtent(out.record);
    if (!extent) return RecordKind::Zip64ValueMissing;
    out.extent = *extent;
    out.name = ZipArchiveEntry::NameToUse(out.record);
    return ZipArchiveEntry::IsValidEntryName(out.name.name) ? RecordKind::Usable : RecordKind::Unnamed;
}

std::streamoff RecordLength(const ZipCentralRecord& record) {
    return std::streamoff(ZipCentralRecord::kFixedSize) + record.nameLength + record.extraLength + record.commentLength;
}

namespace {

std::istream& SourceFor(ZipArchive& archive, std::unique_ptr<std::istream>& own) {
    own = archive.OpenAnotherReader();
    return own ? *own : archive.SourceStream();
}

}  // namespace

DirectoryWalk::DirectoryWalk(ZipArchive& archive)
    : m_archive(archive), m_source(SourceFor(archive, m_ownStream)), m_sharedSource(!m_ownStream) {}

DirectoryWalk::DirectoryWalk(ZipArchive& archive, std::istream& source) : m_archive(archive), m_source(source) {}

DirectoryWalk::~DirectoryWalk() = default;

std::unique_ptr<ZipArchiveEntry> DirectoryWalk::Read(std::size_t index) {
    const DirectoryCheckpoints& checkpoints = m_archive.Checkpoints();
    if (index >= checkpoints.Count()) throw std::out_of_range("no such entry in the archive");
    const std::size_t checkpoint = checkpoints.CheckpointIndex(index);
    if (index < m_nextIndex || checkpoint > m_nextIndex) {
        m_nextIndex = checkpoint;
        m_nextPosition = checkpoints.PositionOf(checkpoint);
        m_seekFirst = true;
    }
    if (m_seekFirst || m_sharedSource) {
        m_source.clear();
        m_source.seekg(m_nextPosition);
        m_seekFirst = false;
    }
    for (DirectoryRecord read;;) {
        const RecordKind kind = ReadDirectoryRecord(m_source, read);
        if (kind == RecordKind::NotARecord || kind == RecordKind::Zip64ValueMissing) {
            m_seekFirst = true;
            throw std::runtime_error("the central directory no longer reads as it did");
        }
        const std::streamoff position = m_nextPosition;
        m_nextPosition += RecordLength(read.record);
        if (kind == RecordKind::Unnamed) continue;
        if (m_nextIndex++ == index)
            return std::make_unique<ZipArchiveEntry>(&m_archive, read.record, read.extent, read.name, position);
    }
}
