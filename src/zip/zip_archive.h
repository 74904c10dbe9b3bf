#pragma once
// A ZIP archive opened for reading: its end record and one entry per usable central directory
// record, in directory order. Single-disk, 32-bit archives only; ZIP64 records are not read and
// sizes and CRC always come from the central directory.

#include <cstddef>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "zip/zip_records.h"

class ZipArchiveEntry;

class ZipArchive {
    struct PrivateTag {};

public:
    // Opens |path| for byte-exact reading and reads its directory. Throws std::runtime_error
    // "Cannot open zip file" when the file cannot be opened; a file that is not a ZIP archive
    // opens with no entries.
    static std::shared_ptr<ZipArchive> OpenFromFile(const std::wstring& path);

    // Reads the directory from |stream| (seekable, binary). With |owns| the archive deletes the
    // stream when it is destroyed. Never null; a null stream gives an empty archive. Malformed
    // input never throws: it yields fewer (possibly zero) entries.
    static std::shared_ptr<ZipArchive> FromStream(std::istream* stream, bool owns);

    ZipArchive(PrivateTag, std::istream* stream, bool owns);
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // Finds the end record nearest to the end of the file, testing every position from 18 bytes
    // before the end back to the start, and reads it. On false the stream is left failed.
    bool LocateEndRecord();
    // Walks the central directory from the end record's offset until the first record that is
    // not a central record; the record counts of the end record are not consulted.
    void LoadCentralDirectory();

    std::size_t EntryCount() const { return m_entries.size(); }
    std::shared_ptr<ZipArchiveEntry> EntryAt(std::size_t index) const { return m_entries.at(index); }
    const std::string& Comment() const { return m_endRecord.comment; }
    const ZipEndRecord& EndRecord() const { return m_endRecord; }
    // The one stream every entry reads from; its position is shared, so callers re-seek.
    std::istream& SourceStream() { return *m_stream; }

private:
    ZipEndRecord m_endRecord;
    std::vector<std::shared_ptr<ZipArchiveEntry>> m_entries;
    std::istream* m_stream = nullptr;
    // Declared last so that an owned stream is deleted before the entries are released.
    std::unique_ptr<std::istream> m_ownedStream;
};
