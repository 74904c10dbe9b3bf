#pragma once
// Where each entry's bytes lie in the archive, to refuse archives whose entries share bytes: a
// few hundred directory records pointing at one small compressed stream would otherwise turn
// kilobytes into gigabytes on the disk.

#include <cstddef>
#include <functional>
#include <optional>

class ZipArchive;
class ZipArchiveEntry;

struct EntryOverlap {
    std::size_t first = 0;              // index of an entry
    std::optional<std::size_t> second;  // the entry it shares bytes with; empty: the directory
};

// Called once for every entry, in order, with its local header read (LoadLocalHeader).
using EntryVisitor = std::function<void(std::size_t index, const ZipArchiveEntry& entry)>;

// Reads every entry's local header and compares the spans from each local header to the end of
// its compressed data with each other and with the central directory and end record; |visit|
// (if any) sees each entry on the way. Entries whose local header cannot be read are left out
// (they cannot be extracted). Spans in directory order, as nearly every writer leaves them, are
// compared as they come; only an archive whose spans are out of order has them all kept and
// sorted (a second pass over the directory).
std::optional<EntryOverlap> FindOverlappingEntries(ZipArchive& archive, const EntryVisitor& visit = {});
