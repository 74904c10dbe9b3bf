#pragma once
// Where the ZIP reader finds an archive's end record. The package signature check must look at
// exactly the record the reader will use, so it asks the reader instead of scanning on its own.

#include <cstdint>
#include <istream>
#include <optional>

#include "zip/zip_records.h"

struct ArchiveEndRecord {
    std::uint64_t offset = 0;  // where its signature starts
    ZipEndRecord record;       // read whole, comment included
};

// The end record the reader takes for |archive|, or none when the reader finds none or cannot
// read it whole (its comment reaching past the end of the file). Moves the read position.
std::optional<ArchiveEndRecord> LocateArchiveEndRecord(std::istream& archive);
