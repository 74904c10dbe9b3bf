#include "zip/end_record.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr std::streamoff kScanBlock = 65536;
constexpr std::streamoff kFixedSize = ZipEndRecord::kFixedSize;
// Longest distance from an end record to the end of the file when its comment ends the file.
constexpr std::streamoff kLongestTail = kFixedSize + 65535;
const char kSignature[4] = {0x50, 0x4B, 0x05, 0x06};

std::uint32_t Le32At(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

std::uint16_t Le16At(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8);
}

enum class Fit { None, Complete, EndsTheFile };

// How well the fixed record at |p| (its 22 bytes at |fixed|) fits a file of |size| bytes.
Fit Judge(const std::string& fixed, std::streamoff p, std::streamoff size) {
    const std::uint16_t commentLength = Le16At(fixed, 20);
    const std::uint64_t directoryEnd = std::uint64_t(Le32At(fixed, 16)) + Le32At(fixed, 12);
    if (directoryEnd > static_cast<std::uint64_t>(p)) return Fit::None;
    const std::streamoff recordEnd = p + kFixedSize + commentLength;
    if (recordEnd == size) return Fit::EndsTheFile;
    return recordEnd < size ? Fit::Complete : Fit::None;
}

// Reads [first, last + 22) and returns the candidates in it, nearest to the end first.
struct Candidate {
    std::streamoff position;
    Fit fit;
};

std::vector<Candidate> CandidatesIn(std::istream& in, std::streamoff first, std::streamoff last, std::streamoff size) {
    std::string block(static_cast<std::size_t>(std::min(last + kFixedSize, size) - first), '\0');
    in.clear();
    in.seekg(first);
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    block.resize(static_cast<std::size_t>(in.gcount()));
    std::vector<Candidate> found;
    const std::string signature(kSignature, sizeof kSignature);
    // Searched backwards for the signature rather than tested at every byte.
    for (std::size_t from = static_cast<std::size_t>(last - first);;) {
        const std::size_t at = block.rfind(signature, from);
        if (at == std::string::npos) break;
        if (at + kFixedSize <= block.size()) {
            const std::streamoff p = first + static_cast<std::streamoff>(at);
            const Fit fit = Judge(block.substr(at, kFixedSize), p, size);
            if (fit != Fit::None) found.push_back({p, fit});
        }
        if (at == 0) break;
        from = at - 1;
    }
    return found;
}

std::optional<EndRecordLocation> ReadAt(std::istream& in, std::streamoff position) {
    EndRecordLocation location;
    location.offset = position;
    in.clear();
    in.seekg(position);
    if (!ReadEndRecord(in, location.record)) return std::nullopt;
    return location;
}

// Stated directory offset plus the shift that makes it point at a central record.
std::streamoff DirectoryShift(std::istream& in, const EndRecordLocation& location) {
    const auto stated = static_cast<std::streamoff>(location.record.directoryOffset);
    const auto startsDirectory = [&in](std::streamoff at) {
        unsigned char bytes[4] = {};
        in.clear();
        in.seekg(at);
        in.read(reinterpret_cast<char*>(bytes), 4);
        return in.gcount() == 4 && Le32At(std::string(reinterpret_cast<char*>(bytes), 4), 0) == ZipCentralRecord::kSignature;
    };
    if (location.record.directorySize == 0 || startsDirectory(stated)) return 0;
    const std::streamoff shift = location.offset - static_cast<std::streamoff>(location.record.directorySize) - stated;
    return shift > 0 && startsDirectory(stated + shift) ? shift : 0;
}

}  // namespace

std::optional<EndRecordLocation> FindEndRecord(std::istream& archive) {
    archive.clear();
    archive.seekg(0, std::ios::end);
    const std::streamoff size = archive.fail() ? -1 : static_cast<std::streamoff>(archive.tellg());
    std::optional<std::streamoff> nearestComplete;
    for (std::streamoff last = size - kFixedSize; last >= 0;) {
        const std::streamoff first = std::max<std::streamoff>(0, last - kScanBlock + 1);
        for (const Candidate& candidate : CandidatesIn(archive, first, last, size)) {
            if (candidate.fit == Fit::EndsTheFile) {
                auto location = ReadAt(archive, candidate.position);
                if (location) location->shift = DirectoryShift(archive, *location);
                archive.clear();
                return location;
            }
            if (!nearestComplete) nearestComplete = candidate.position;
        }
        // A record whose comment ends the file lies within the last 65,557 bytes; beyond them
        // only the nearest complete candidate is wanted.
        if (nearestComplete && size - first >= kLongestTail) break;
        last = first - 1;
    }
    std::optional<EndRecordLocation> location;
    if (nearestComplete) location = ReadAt(archive, *nearestComplete);
    if (location) location->shift = DirectoryShift(archive, *location);
    archive.clear();
    return location;
}
