#pragma once
// Reading an archive's central records again after the directory was read once: the archive
// keeps no record per entry, only where every 64th entry's record starts, and an entry is made
// from its record whenever it is asked for. Its memory so stays flat in the number of entries.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <vector>

#include "zip/extra_fields.h"
#include "zip/zip_archive_entry.h"
#include "zip/zip_records.h"

class ZipArchive;

// One central record as the directory walk judges it.
enum class RecordKind {
    NotARecord,         // no (complete) central record here: the directory ends
    Zip64ValueMissing,  // a size or offset refers to a ZIP64 field that lacks it
    Unnamed,            // passed over: its name is empty or only separators
    Usable,             // an entry
};

struct DirectoryRecord {
    ZipCentralRecord record;
    EntryExtent extent;
    ZipArchiveEntry::UsedName name;
};

// Reads the central record at |in|'s position into |out| and judges it.
RecordKind ReadDirectoryRecord(std::istream& in, DirectoryRecord& out);

// Bytes of a central record as read: where the next one starts.
std::streamoff RecordLength(const ZipCentralRecord& record);

// Where the records of every 64th entry start, in entry order.
class DirectoryCheckpoints {
public:
    static constexpr std::size_t kSpacing = 64;

    // Called for every entry in order, with the stream position of its record.
    void Add(std::streamoff recordPosition) {
        if (m_count++ % kSpacing == 0) m_positions.push_back(recordPosition);
    }
    std::size_t Count() const { return m_count; }
    // The checkpoint at or before entry |index| (< Count): its entry's index and record position.
    std::size_t CheckpointIndex(std::size_t index) const { return index - index % kSpacing; }
    std::streamoff PositionOf(std::size_t index) const { return m_positions[index / kSpacing]; }

private:
    std::size_t m_count = 0;
    std::vector<std::streamoff> m_positions;
};

// Makes entries of |archive| from their central records, read through one stream: fastest in
// entry order (each record is read once), any order possible (from the checkpoint before it).
class DirectoryWalk {
public:
    // Reads through a stream of its own when the archive was opened from a file, else through
    // the archive's stream (then seeking before every record, as others move that stream).
    explicit DirectoryWalk(ZipArchive& archive);
    // Reads through |source| (the archive's file), which nothing else moves.
    DirectoryWalk(ZipArchive& archive, std::istream& source);
    ~DirectoryWalk();
    DirectoryWalk(const DirectoryWalk&) = delete;
    DirectoryWalk& operator=(const DirectoryWalk&) = delete;

    // Entry |index| (< EntryCount), made as when the archive was opened. Throws
    // std::runtime_error when its record no longer reads as it did (the file changed).
    std::unique_ptr<ZipArchiveEntry> Read(std::size_t index);

private:
    ZipArchive& m_archive;
    std::unique_ptr<std::istream> m_ownStream;
    std::istream& m_source;
    bool m_sharedSource = false;
    bool m_seekFirst = true;
    std::size_t m_nextIndex = SIZE_MAX;  // the entry whose record starts at m_nextPosition
    std::streamoff m_nextPosition = 0;
};
