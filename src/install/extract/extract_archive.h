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
using CancelTest = std::function<bool()>;  // true: stop

// Extracts every entry of |packagePath| below |extractionFolder| (which must exist), logging
// "Unzipping N entries" and one "Extracting NAME" line per file. After each entry it asks
// |cancelRequested| (then logs "Canceling extraction..." and returns what was reported so far)
// or reports |progress|(i + 1, n); within a large entry it asks between megabytes, and a file
// cut short that way is removed.
//
// {0, 0} means failure, and the log's Eerror lines say why:
// - the package cannot be opened ("Cannot open zip file"), is not a ZIP archive, is cut short,
//   has a damaged directory, has no entries, or has entries that share bytes ("Corrupt
//   package"); or the target drive lacks the space its entries declare. Nothing is written then.
// - an entry is not written: its name could leave the folder or names a device, it is
//   encrypted, needs a newer reader or an unknown method, its local header is unusable, or its
//   file or folder cannot be created. Each logs "Unable to extract NAME: REASON"; the
//   extraction goes on so that every such entry is reported, then fails.
// - an entry's data does not match its stored size and CRC-32 ("Corrupt entry NAME: ...") or
//   cannot be written: the extraction stops there.
// Names are logged with control characters escaped. Small entries may be decoded ahead on
// helper threads, one per core (entry_read_ahead.h); files are still written and reported in order by the
// caller's thread. Nothing escapes as an exception.
ExtractionResult ExtractArchive(const std::wstring& packagePath, const std::wstring& extractionFolder,
                                const ExtractionProgress& progress, const CancelTest& cancelRequested);
