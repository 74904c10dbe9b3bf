#include "zip/entry_spans.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "zip/directory_walk.h"
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

// Spans in order of their start (of their index when starts are equal): the first one that
// starts before an earlier one ends makes the overlap.
class SpanSweep {
public:
    void Add(const Span& span) {
        if (m_overlap) return;
        if (m_reaching && span.start < m_reaching->end) {
            EntryOverlap overlap;
            overlap.first = m_reaching->index == kDirectory ? span.index : m_reaching->index;
            const std::size_t other = m_reaching->index == kDirectory ? m_reaching->index : span.index;
            if (other != kDirectory) overlap.second = other;
            m_overlap = overlap;
            return;
        }
        if (!m_reaching || span.end > m_reaching->end) m_reaching = span;
    }
    const std::optional<EntryOverlap>& Overlap() const { return m_overlap; }

private:
    std::optional<Span> m_reaching;  // the span seen so far that ends last
    std::optional<EntryOverlap> m_overlap;
};

// Every entry's span in entry order, then the directory's; |take| false stops the walk.
template <typename Take>
void ForEachSpan(ZipArchive& archive, const EntryVisitor& visit, Take take) {
    DirectoryWalk walk(archive);
    for (std::size_t i = 0; i < archive.EntryCount(); ++i) {
        const std::unique_ptr<ZipArchiveEntry> entry = walk.Read(i);
        entry->LoadLocalHeader();
        if (visit) visit(i, *entry);
        const std::optional<std::streamoff> data = entry->LoadedDataOffset();
        // Sizes and offsets beyond any file (up to 2^64) are kept apart from real ones by saturating.
        if (data && !take(Span{entry->LocalHeaderPosition(), SaturatedEnd(*data, entry->CompressedSize()), i})) return;
    }
    if (archive.EndRecordOffset() >= 0) {
        const std::int64_t directory = std::int64_t(archive.DirectoryOffset()) + archive.OffsetShift();
        take(Span{directory, archive.EndRecordOffset() + ZipEndRecord::kFixedSize + archive.EndRecord().commentLength,
                  kDirectory});
    }
}

std::optional<EntryOverlap> SweepSorted(ZipArchive& archive) {
    std::vector<Span> spans;
    ForEachSpan(archive, {}, [&spans](const Span& span) {
        spans.push_back(span);
        return true;
    });
    // The index breaks ties as the order of reading would: the directory (SIZE_MAX) comes last.
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.start != b.start ? a.start < b.start : a.index < b.index; });
    SpanSweep sweep;
    for (const Span& span : spans) sweep.Add(span);
    return sweep.Overlap();
}

}  // namespace

std::optional<EntryOverlap> FindOverlappingEntries(ZipArchive& archive, const EntryVisitor& visit) {
    SpanSweep sweep;
    bool inOrder = true;
    std::int64_t lastStart = INT64_MIN;
    ForEachSpan(archive, visit, [&](const Span& span) {
        inOrder = inOrder && span.start >= lastStart;
        lastStart = span.start;
        if (inOrder) sweep.Add(span);
        return inOrder || static_cast<bool>(visit);  // without a visitor nothing more is needed here
    });
    return inOrder ? sweep.Overlap() : SweepSorted(archive);
}
