#pragma once
// Where each entry's bytes lie in the archive, to refuse archives whose entries share bytes: a
// few hundred directory records pointing at one small compressed stream would otherwise turn
// kilobytes into gigabytes on the disk.

#include <cstddef>
#include <optional>

class ZipArchive;

struct EntryOverlap {
    std::size_t first = 0;              // index of an entry
    std::optional<std::size_t> second;  // the entry it shares bytes with; empty: the directory
};

// Reads every entry's local header (LoadLocalHeader) and compares the spans from each local
// header to the end of its compressed data with each other and with the central directory and
// end record. Entries whose local header cannot be read are left out (they cannot be extracted).
std::optional<EntryOverlap> FindOverlappingEntries(ZipArchive& archive);
