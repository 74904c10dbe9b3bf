#include "zip/zip_archive.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "common/text.h"
#include "zip/zip_archive_entry.h"

namespace {

// The end-record scan reads the file backwards in blocks of this size; consecutive blocks overlap
// by three bytes so that a signature across a block boundary is still seen.
constexpr std::streamoff kScanBlock = 65536;
constexpr std::streamoff kScanStartBeforeEnd = 18;
const char kEndSignature[4] = {0x50, 0x4B, 0x05, 0x06};

std::filesystem::path NativePath(const std::wstring& path) {
#ifdef _WIN32
    return std::filesystem::path(path);
#else
    return std::filesystem::path(WideToUtf8(path));
#endif
}

// Last position p in [first, last] whose four bytes in |block| (which starts at |blockStart|)
// are the end signature, or -1.
std::streamoff FindLastSignature(const std::string& block, std::streamoff blockStart, std::streamoff first,
                                 std::streamoff last) {
    for (std::streamoff p = last; p >= first; --p) {
        const auto at = static_cast<std::size_t>(p - blockStart);
        if (at + 4 <= block.size() && std::equal(kEndSignature, kEndSignature + 4, block.begin() + static_cast<std::ptrdiff_t>(at)))
            return p;
    }
    return -1;
}

}  // namespace

std::shared_ptr<ZipArchive> ZipArchive::OpenFromFile(const std::wstring& path) {
    auto file = std::make_unique<std::ifstream>(NativePath(path), std::ios::in | std::ios::binary);
    if (!file->is_open()) throw std::runtime_error("Cannot open zip file");
    return FromStream(file.release(), true);
}

std::shared_ptr<ZipArchive> ZipArchive::FromStream(std::istream* stream, bool owns) {
    auto archive = std::make_shared<ZipArchive>(PrivateTag{}, stream, owns && stream != nullptr);
    if (stream) {
        archive->LocateEndRecord();
        archive->LoadCentralDirectory();
    }
    return archive;
}

ZipArchive::ZipArchive(PrivateTag, std::istream* stream, bool owns) : m_stream(stream) {
    if (owns) m_ownedStream.reset(stream);
}

bool ZipArchive::LocateEndRecord() {
    std::istream& in = *m_stream;
    in.clear();
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.fail() ? -1 : static_cast<std::streamoff>(in.tellg());
    std::streamoff found = -1;
    // Same result as testing one position at a time from end - 18 down to 0: the first hit
    // walking backwards, i.e. the signature nearest to the end, wins, whatever the file size.
    for (std::streamoff last = size - kScanStartBeforeEnd; last >= 0 && found < 0 && !in.fail();) {
        const std::streamoff first = std::max<std::streamoff>(0, last - kScanBlock + 1);
        std::string block(static_cast<std::size_t>(last - first + 4), '\0');
        in.seekg(first);
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        block.resize(static_cast<std::size_t>(in.gcount()));
        in.clear();
        found = FindLastSignature(block, first, first, last);
        last = first - 1;
    }
    if (found < 0) {
        in.setstate(std::ios::failbit);  // the walk that follows must find nothing
        return false;
    }
    in.seekg(found);
    ReadEndRecord(in, m_endRecord);
    return true;
}

void ZipArchive::LoadCentralDirectory() {
    std::istream& in = *m_stream;
    in.seekg(static_cast<std::streamoff>(m_endRecord.directoryOffset));
    for (ZipCentralRecord record; ReadCentralRecord(in, record); record = ZipCentralRecord{}) {
        if (!ZipArchiveEntry::IsValidEntryName(record.fileName)) continue;
        if (auto entry = ZipArchiveEntry::FromCentralRecord(this, record)) m_entries.push_back(std::move(entry));
    }
}
