#include "zip/entry_spans.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "zip/zip_archive.h"

namespace {

struct Span {
    std::int64_t start;
    std::int64_t end;
    std::size_t index;  // SIZE_MAX: the directory
};

constexpr std::size_t kDirectory = SIZE_MAX;

std::int64_t SaturatedEnd(std::int64_t start, std::uint64_t length) {
    return length > std::uint64_t(INT64_MAX - start) ? INT64_MAX : start + std::int64_t(length);
}

}  // namespace

std::optional<EntryOverlap> FindOverlappingEntries(ZipArchive& archive) {
    std::vector<Span> spans;
    spans.reserve(archive.EntryCount() + 1);
    for (std::size_t i = 0; i < archive.EntryCount(); ++i) {
        ZipArchiveEntry& entry = *archive.EntryAt(i);
        const std::optional<std::streamoff> data = entry.DataOffset();
        // Sizes and offsets beyond any file (up to 2^64) are kept apart from real ones by saturating.
        if (data) spans.push_back({entry.LocalHeaderPosition(), SaturatedEnd(*data, entry.CompressedSize()), i});
    }
    if (archive.EndRecordOffset() >= 0) {
        const std::int64_t directory = std::int64_t(archive.DirectoryOffset()) + archive.OffsetShift();
        spans.push_back({directory,
                         archive.EndRecordOffset() + ZipEndRecord::kFixedSize + archive.EndRecord().commentLength,
                         kDirectory});
    }
    std::stable_sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    const Span* reaching = nullptr;  // the span seen so far that ends last
    for (const Span& span : spans) {
        if (reaching && span.start < reaching->end) {
            EntryOverlap overlap;
            overlap.first = reaching->index == kDirectory ? span.index : reaching->index;
            const std::size_t other = reaching->index == kDirectory ? reaching->index : span.index;
            if (other != kDirectory) overlap.second = other;
            return overlap;
        }
        if (!reaching || span.end > reaching->end) reaching = &span;
    }
    return std::nullopt;
}
