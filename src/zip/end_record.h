#pragma once
// Finding the end of central directory record (APPNOTE 4.3.16) of an archive, and with it the
// ZIP64 end record its locator points at (4.3.14, 4.3.15). The package signature check uses the
// same function, so that both read exactly the same record.

#include <cstdint>
#include <istream>
#include <optional>

#include "zip/zip_records.h"

// What is wrong with the ZIP64 records of an end record that has a locator in front.
enum class Zip64Problem {
    None,
    LocatorPointsNowhere,  // no ZIP64 end record where the locator says, nor right before it
    RecordsDisagree,       // the end record states a directory other than the ZIP64 end record's
};

struct EndRecordLocation {
    std::streamoff offset = 0;  // stream position of the record's signature
    ZipEndRecord record;        // the record as read, comment included
    // How far every stated offset must be moved: data in front of the archive (a stub, padding)
    // whose offsets were not adjusted puts the directory this much later than the record says.
    std::streamoff shift = 0;
    // The directory as stated: by the ZIP64 end record when there is one, else by the record.
    std::uint64_t directoryOffset = 0;
    std::uint64_t directorySize = 0;
    std::uint64_t totalEntries = 0;
    std::streamoff zip64Offset = -1;  // stream position of the ZIP64 end record; -1: none
    Zip64Problem zip64Problem = Zip64Problem::None;
};

// Scans |archive| backwards for the end record. A candidate counts only when its fixed part is
// complete, its comment ends exactly where the stream ends, and the directory it describes lies
// before it; so a comment that holds the signature bytes cannot be taken for the record. Of
// several such candidates (a comment that holds a whole archive), the nearest one whose
// directory lies where it says wins, then the nearest one whose directory is found after a
// shift, then the nearest. When no candidate ends the stream (bytes were appended after the
// archive), the nearest candidate that is complete and has its directory before it is taken.
// Empty when there is none. The stream's position and state afterwards are unspecified; it is
// cleared.
std::optional<EndRecordLocation> FindEndRecord(std::istream& archive);
