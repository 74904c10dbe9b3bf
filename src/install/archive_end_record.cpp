#include "install/archive_end_record.h"

#include "zip/zip_archive.h"

std::optional<ArchiveEndRecord> LocateArchiveEndRecord(std::istream& archive) {
    // The reader's own scan, run on a reader over the same stream. It leaves the stream just past
    // the record it read, which gives the record's position.
    const auto reader = ZipArchive::FromStream(&archive, false);
    if (!reader->LocateEndRecord()) return std::nullopt;
    const ZipEndRecord& record = reader->EndRecord();
    const std::streamoff end = archive.fail() ? -1 : static_cast<std::streamoff>(archive.tellg());
    const std::streamoff length = static_cast<std::streamoff>(ZipEndRecord::kFixedSize) + record.commentLength;
    if (end < length || record.signature != ZipEndRecord::kSignature || record.comment.size() != record.commentLength)
        return std::nullopt;
    return ArchiveEndRecord{static_cast<std::uint64_t>(end - length), record};
}
