#pragma once
// Unpacks a ZIP package into a folder, entry by entry, for the installer's extraction stage.

#include <cstdint>
#include <functional>
#include <string>

struct ExtractionResult {
    std::uint32_t extracted = 0;  // entries whose progress was reported; equals total after a full pass
    std::uint32_t total = 0;      // entries in the archive
};

using ExtractionProgress = std::function<void(std::uint32_t done, std::uint32_t total)>;
using CancelTest = std::function<bool()>;  // true: stop after the entry just handled

// Extracts every entry of |packagePath| below |extractionFolder| (which must exist), logging
// "Unzipping N entries" and one "Extracting NAME" line per file. After each entry it asks
// |cancelRequested| (then logs "Canceling extraction..." and returns what was reported so far)
// or reports |progress|(i + 1, n). A file whose name could leave the folder, that cannot be
// decoded (encrypted, unknown version, unreadable header) or created is skipped with "Unable to
// extract NAME". Data that does not match its stored size and CRC-32 ("Corrupt entry NAME") or
// cannot be written ends the extraction as failed. {0, 0} means failure: the package could not
// be opened, holds no entries, or held corrupt data. Small entries may be decoded ahead on a
// second thread (entry_read_ahead.h); files are still written and reported in order by the caller's thread.
ExtractionResult ExtractArchive(const std::wstring& packagePath, const std::wstring& extractionFolder,
                                const ExtractionProgress& progress, const CancelTest& cancelRequested);
