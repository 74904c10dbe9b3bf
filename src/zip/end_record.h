#pragma once
// Finding the end of central directory record (APPNOTE 4.3.16) of an archive. The package
// signature check uses the same function, so that both read exactly the same record.

#include <cstdint>
#include <istream>
#include <optional>

#include "zip/zip_records.h"

struct EndRecordLocation {
    std::streamoff offset = 0;  // stream position of the record's signature
    ZipEndRecord record;        // the record as read, comment included
    // How far every stated offset must be moved: data in front of the archive (a stub, padding)
    // whose offsets were not adjusted puts the directory this much later than the record says.
    std::streamoff shift = 0;
};

// Scans |archive| backwards for the end record. A candidate counts only when its fixed part is
// complete, its comment ends exactly where the stream ends, and the directory it describes lies
// before it; so a comment that holds the signature bytes cannot be taken for the record. When no
// candidate ends the stream (bytes were appended after the archive), the nearest candidate that
// is complete and has its directory before it is taken. Empty when there is none. The stream's
// position and state afterwards are unspecified; it is cleared.
std::optional<EndRecordLocation> FindEndRecord(std::istream& archive);
