#pragma once
// A ZIP archive opened for reading: its end record and one entry per usable central directory
// record, in directory order. Single-disk archives, classic or ZIP64; sizes and CRC always come
// from the central directory (with its ZIP64 values), never from data descriptors. The entries
// are not kept: each is made from its central record when asked for (directory_walk.h).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <istream>
#include <map>
#include <memory>
#include <string>

#include "zip/directory_walk.h"
#include "zip/zip_archive_entry.h"
#include "zip/zip_records.h"

// Why an archive's directory could not be read whole. The archive still opens (with the
// entries read before the damage), so that a caller can say what was wrong.
enum class DirectoryProblem {
    None,
    NotAnArchive,               // no end record at all
    EndsBeforeDirectory,        // starts like an archive but the end (record or directory) is cut off
    DamagedDirectory,           // the directory is not where the end record says, or breaks off early
    Zip64LocatorPointsNowhere,  // no ZIP64 end record where its locator points
    Zip64RecordsDisagree,       // the end record and the ZIP64 end record state different directories
    Zip64ValueMissing,          // a central record leaves a size or offset to a ZIP64 field it lacks
    NoEntries,                  // a sound archive without a single entry
};

// "is not a ZIP archive", "ends before its central directory", ...: to follow the package's name.
const char* DescribeDirectoryProblem(DirectoryProblem problem);

class ZipArchive : public std::enable_shared_from_this<ZipArchive> {
    struct PrivateTag {};

public:
    // Opens |path| for byte-exact reading and reads its directory. Throws std::runtime_error
    // "Cannot open zip file" when the file cannot be opened; a file that is not a ZIP archive
    // opens with no entries.
    static std::shared_ptr<ZipArchive> OpenFromFile(const std::wstring& path);

    // Reads the directory from |stream| (seekable, binary). With |owns| the archive deletes the
    // stream when it is destroyed. Never null; a null stream gives an empty archive. Malformed
    // input never throws: it yields fewer (possibly zero) entries and a DirectoryProblem.
    static std::shared_ptr<ZipArchive> FromStream(std::istream* stream, bool owns);

    ZipArchive(PrivateTag, std::istream* stream, bool owns);
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // Finds the end record (FindEndRecord in end_record.h) and reads it; false when there is none.
    bool LocateEndRecord();
    // Walks the central directory from the end record's offset (moved by the shift of data in
    // front, if any) until the first record that is not a central record; the record counts of
    // the end record are not consulted.
    void LoadCentralDirectory();

    std::size_t EntryCount() const { return m_checkpoints.Count(); }
    // The entry shares ownership of the archive: it stays usable as long as it is held. It is
    // made from its central record when asked for and stays the same object while it is held or
    // holds a password or an open data stream; once idle it is dropped, to be read again. Throws
    // std::out_of_range past the last entry. One thread only (others use a DirectoryWalk).
    std::shared_ptr<ZipArchiveEntry> EntryAt(std::size_t index);
    // Where the records of every 64th entry start (DirectoryWalk reads the others from there).
    const DirectoryCheckpoints& Checkpoints() const { return m_checkpoints; }
    // Another reader of the archive's file; null when the archive was read from a stream.
    std::unique_ptr<std::istream> OpenAnotherReader() const;
    const std::string& Comment() const { return m_endRecord.comment; }
    const ZipEndRecord& EndRecord() const { return m_endRecord; }
    // Where the central directory starts as stated (before the shift) and its size: the ZIP64
    // end record's values when there is one.
    std::uint64_t DirectoryOffset() const { return m_directoryOffset; }
    std::uint64_t DirectorySize() const { return m_directorySize; }
    DirectoryProblem Problem() const { return m_problem; }
    // Central records passed over because their name is empty or only separators.
    std::size_t UnnamedRecords() const { return m_unnamedRecords; }
    // Bytes of foreign data in front of the archive whose offsets were not adjusted (0 normally).
    std::streamoff OffsetShift() const { return m_shift; }
    // Stream position of the end record, or -1 when there is none.
    std::streamoff EndRecordOffset() const { return m_endRecordOffset; }
    // The one stream every entry reads from; its position is shared, so callers re-seek.
    std::istream& SourceStream() { return *m_stream; }

private:
    // Drops the entries handed out that nobody holds and that hold nothing (IsIdle).
    void DropIdleEntries();

    ZipEndRecord m_endRecord;
    std::uint64_t m_directoryOffset = 0;
    std::uint64_t m_directorySize = 0;
    bool m_zip64 = false;
    std::streamoff m_endRecordOffset = -1;
    std::streamoff m_shift = 0;
    DirectoryProblem m_problem = DirectoryProblem::None;
    std::size_t m_unnamedRecords = 0;
    DirectoryCheckpoints m_checkpoints;
    std::filesystem::path m_path;  // empty for an archive read from a stream
    std::istream* m_stream = nullptr;
    std::unique_ptr<DirectoryWalk> m_walk;  // EntryAt's
    std::map<std::size_t, std::shared_ptr<ZipArchiveEntry>> m_handedOut;
    std::size_t m_dropAt = 0;  // m_handedOut's size at which DropIdleEntries runs next
    // Declared last so that an owned stream is deleted before the entries are released.
    std::unique_ptr<std::istream> m_ownedStream;
};
