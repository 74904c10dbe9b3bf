#include "zip/end_record.h"

#include <algorithm>
#include <string>
#include <vector>

#include "zip/le_bytes.h"

namespace {

constexpr std::streamoff kScanBlock = 65536;
constexpr std::streamoff kFixedSize = ZipEndRecord::kFixedSize;
// Longest distance from an end record to the end of the file when its comment ends the file.
constexpr std::streamoff kLongestTail = kFixedSize + 65535;
const char kSignature[4] = {0x50, 0x4B, 0x05, 0x06};

enum class Fit { None, Complete, EndsTheFile };

// Stream positions of the end-record signatures in [first, last], nearest to the end first.
std::vector<std::streamoff> SignaturesIn(std::istream& in, std::streamoff first, std::streamoff last,
                                         std::streamoff size) {
    std::string block(static_cast<std::size_t>(std::min(last + kFixedSize, size) - first), '\0');
    in.clear();
    in.seekg(first);
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    block.resize(static_cast<std::size_t>(in.gcount()));
    std::vector<std::streamoff> found;
    const std::string signature(kSignature, sizeof kSignature);
    // Searched backwards for the signature rather than tested at every byte.
    for (std::size_t from = static_cast<std::size_t>(last - first);;) {
        const std::size_t at = block.rfind(signature, from);
        if (at == std::string::npos) break;
        if (at + kFixedSize <= block.size()) found.push_back(first + static_cast<std::streamoff>(at));
        if (at == 0) break;
        from = at - 1;
    }
    return found;
}

bool SignatureAt(std::istream& in, std::streamoff at, std::uint32_t signature) {
    if (at < 0) return false;
    std::string bytes(4, '\0');
    in.clear();
    in.seekg(at);
    in.read(bytes.data(), 4);
    return in.gcount() == 4 && LeAt<std::uint32_t>(bytes, 0) == signature;
}

// The ZIP64 end record of the end record at |location|, when a locator stands in front of it.
// The locator's offset is tried as stated, then the place right before the locator (data in
// front whose offsets were not adjusted).
void ReadZip64Records(std::istream& in, EndRecordLocation& location) {
    const std::streamoff locatorAt = location.offset - Zip64Locator::kFixedSize;
    Zip64Locator locator;
    in.clear();
    if (locatorAt < 0 || !in.seekg(locatorAt) || !ReadZip64Locator(in, locator)) return;
    std::streamoff at = static_cast<std::streamoff>(std::min<std::uint64_t>(locator.endRecordOffset, INT64_MAX));
    if (!SignatureAt(in, at, Zip64EndRecord::kSignature)) at = locatorAt - Zip64EndRecord::kFixedSize;
    Zip64EndRecord zip64;
    in.clear();
    if (!SignatureAt(in, at, Zip64EndRecord::kSignature) || !in.seekg(at) || !ReadZip64EndRecord(in, zip64)) {
        location.zip64Problem = Zip64Problem::LocatorPointsNowhere;
        return;
    }
    location.zip64Offset = at;
    const ZipEndRecord& record = location.record;
    const bool disagree = (record.directoryOffset != 0xFFFFFFFFu && record.directoryOffset != zip64.directoryOffset) ||
                          (record.directorySize != 0xFFFFFFFFu && record.directorySize != zip64.directorySize);
    if (disagree) location.zip64Problem = Zip64Problem::RecordsDisagree;
    location.directoryOffset = zip64.directoryOffset;
    location.directorySize = zip64.directorySize;
    location.totalEntries = zip64.totalEntries;
}

// Where the directory must end: at the ZIP64 end record when there is one, else at the record.
std::streamoff DirectoryLimit(const EndRecordLocation& location) {
    return location.zip64Offset >= 0 ? location.zip64Offset : location.offset;
}

Fit Judge(const EndRecordLocation& location, std::streamoff size) {
    // A record whose ZIP64 end record is missing is judged by its comment alone: it is the
    // archive's end, and a corrupt one.
    const bool zip64Missing = location.zip64Problem == Zip64Problem::LocatorPointsNowhere;
    const auto limit = static_cast<std::uint64_t>(DirectoryLimit(location));
    if (!zip64Missing && (location.directorySize > limit || location.directoryOffset > limit - location.directorySize))
        return Fit::None;
    const std::streamoff recordEnd = location.offset + kFixedSize + location.record.commentLength;
    if (recordEnd == size) return Fit::EndsTheFile;
    return recordEnd < size ? Fit::Complete : Fit::None;
}

// The candidate at |position| as read, with its fit; nothing when it does not fit at all.
struct Candidate {
    EndRecordLocation location;
    Fit fit = Fit::None;
    bool directoryAsStated = false;  // its directory starts where it says
};

std::optional<Candidate> ReadCandidate(std::istream& in, std::streamoff position, std::streamoff size) {
    Candidate candidate;
    EndRecordLocation& location = candidate.location;
    location.offset = position;
    in.clear();
    in.seekg(position);
    // A comment cut short by the end of the file still leaves a candidate (judged by its length).
    ReadEndRecord(in, location.record);
    if (location.record.signature != ZipEndRecord::kSignature) return std::nullopt;
    location.directoryOffset = location.record.directoryOffset;
    location.directorySize = location.record.directorySize;
    location.totalEntries = location.record.totalEntries;
    ReadZip64Records(in, location);
    candidate.fit = Judge(location, size);
    if (candidate.fit == Fit::None) return std::nullopt;
    const auto stated = static_cast<std::streamoff>(location.directoryOffset);
    candidate.directoryAsStated = location.directorySize == 0 ? stated == DirectoryLimit(location)
                                                              : SignatureAt(in, stated, ZipCentralRecord::kSignature);
    if (!candidate.directoryAsStated && location.directorySize != 0) {
        const std::streamoff shift =
            DirectoryLimit(location) - static_cast<std::streamoff>(location.directorySize) - stated;
        if (shift > 0 && SignatureAt(in, stated + shift, ZipCentralRecord::kSignature)) location.shift = shift;
    }
    return candidate;
}

// The nearest candidate whose directory is where it says; else the nearest whose directory is
// found after a shift; else the nearest. |candidates| are nearest first and not empty.
const Candidate& Preferred(const std::vector<Candidate>& candidates) {
    for (const Candidate& candidate : candidates)
        if (candidate.directoryAsStated && candidate.location.zip64Problem == Zip64Problem::None) return candidate;
    for (const Candidate& candidate : candidates)
        if (candidate.location.shift > 0 && candidate.location.zip64Problem == Zip64Problem::None) return candidate;
    return candidates.front();
}

}  // namespace

std::optional<EndRecordLocation> FindEndRecord(std::istream& archive) {
    archive.clear();
    archive.seekg(0, std::ios::end);
    const std::streamoff size = archive.fail() ? -1 : static_cast<std::streamoff>(archive.tellg());
    std::vector<Candidate> endingTheFile;
    std::optional<Candidate> nearestComplete;
    for (std::streamoff last = size - kFixedSize; last >= 0;) {
        const std::streamoff first = std::max<std::streamoff>(0, last - kScanBlock + 1);
        for (const std::streamoff position : SignaturesIn(archive, first, last, size)) {
            std::optional<Candidate> candidate = ReadCandidate(archive, position, size);
            if (!candidate) continue;
            if (candidate->fit == Fit::EndsTheFile) {
                endingTheFile.push_back(std::move(*candidate));
            } else if (!nearestComplete) {
                nearestComplete = std::move(candidate);
            }
        }
        // A record whose comment ends the file lies within the last 65,557 bytes; beyond them
        // only the nearest complete candidate is wanted.
        if ((!endingTheFile.empty() || nearestComplete) && size - first >= kLongestTail) break;
        last = first - 1;
    }
    archive.clear();
    if (!endingTheFile.empty()) return Preferred(endingTheFile).location;
    if (nearestComplete) return nearestComplete->location;
    return std::nullopt;
}
