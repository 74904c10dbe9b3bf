#include "install/archive_end_record.h"

#include "zip/end_record.h"

std::optional<ArchiveEndRecord> LocateArchiveEndRecord(std::istream& archive) {
    // The reader's own scan: the check and the extraction look at the same record.
    const std::optional<EndRecordLocation> found = FindEndRecord(archive);
    if (!found || found->offset < 0 || found->record.comment.size() != found->record.commentLength) return std::nullopt;
    return ArchiveEndRecord{static_cast<std::uint64_t>(found->offset), found->record};
}
