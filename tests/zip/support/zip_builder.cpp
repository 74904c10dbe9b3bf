#include "zip_builder.h"

#include <bzlib.h>
#include <zlib.h>

#include <random>
#include <stdexcept>

std::uint32_t Crc32Of(const std::string& bytes) {
    return static_cast<std::uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

std::string RawDeflate(const std::string& plain) {
    z_stream stream{};
    if (deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&stream, static_cast<uLong>(plain.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
    stream.avail_in = static_cast<uInt>(plain.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) throw std::runtime_error("deflate");
    return out;
}

std::string Bzip2Compress(const std::string& plain, int blockSize100k) {
    std::string out(plain.size() + plain.size() / 100 + 600, '\0');
    auto size = static_cast<unsigned int>(out.size());
    if (BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(plain.data()),
                                 static_cast<unsigned int>(plain.size()), blockSize100k, 0, 30) != BZ_OK)
        throw std::runtime_error("BZ2_bzBuffToBuffCompress");
    out.resize(size);
    return out;
}

namespace {

// The keys of APPNOTE 6.1.5, written out independently of the reader's.
struct Keys {
    std::uint32_t k0 = 0x12345678, k1 = 0x23456789, k2 = 0x34567890;
    static std::uint32_t Crc(std::uint32_t key, unsigned char b) {
        key ^= b;
        for (int i = 0; i < 8; ++i) key = (key >> 1) ^ (0xEDB88320u & (0u - (key & 1u)));
        return key;
    }
    void Update(unsigned char plain) {
        k0 = Crc(k0, plain);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = Crc(k2, static_cast<unsigned char>(k1 >> 24));
    }
    unsigned char Encrypt(unsigned char plain) {
        const std::uint32_t t = (k2 & 0xFFFF) | 2;
        const auto cipher = static_cast<unsigned char>(plain ^ ((t * (t ^ 1)) >> 8));
        Update(plain);
        return cipher;
    }
};

}  // namespace

std::string PkwareEncrypt(const std::string& password, std::string header12, const std::string& plain) {
    Keys keys;
    for (unsigned char c : password) keys.Update(c);
    std::string out;
    for (unsigned char c : header12 + plain) out += static_cast<char>(keys.Encrypt(c));
    return out;
}

std::string NoiseBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::string out(size, '\0');
    for (auto& c : out) c = static_cast<char>(generator() & 0xFF);
    return out;
}

std::string SampleText(std::size_t size) {
    std::string out;
    for (unsigned line = 0; out.size() < size; ++line)
        out += "line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog\n";
    out.resize(size);
    return out;
}

std::string Le16(std::uint16_t value) { return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)}; }
std::string Le32(std::uint32_t value) {
    return Le16(static_cast<std::uint16_t>(value & 0xFFFF)) + Le16(static_cast<std::uint16_t>(value >> 16));
}
std::string ExtraItem(std::uint16_t tag, const std::string& data) {
    return Le16(tag) + Le16(static_cast<std::uint16_t>(data.size())) + data;
}

BuiltEntry StoredEntry(const std::string& name, const std::string& plain) {
    BuiltEntry entry;
    entry.name = name;
    entry.payload = plain;
    entry.versionNeeded = 10;
    entry.crc = Crc32Of(plain);
    entry.uncompressedSize = static_cast<std::uint32_t>(plain.size());
    return entry;
}

BuiltEntry DeflatedEntry(const std::string& name, const std::string& plain) {
    BuiltEntry entry = StoredEntry(name, plain);
    entry.payload = RawDeflate(plain);
    entry.method = 8;
    entry.versionNeeded = 20;
    return entry;
}

BuiltEntry Bzip2Entry(const std::string& name, const std::string& plain, int blockSize100k) {
    BuiltEntry entry = StoredEntry(name, plain);
    entry.payload = Bzip2Compress(plain, blockSize100k);
    entry.method = 12;
    entry.versionNeeded = 46;
    return entry;
}

BuiltEntry FolderEntry(const std::string& name) {
    BuiltEntry entry = StoredEntry(name, "");
    entry.externalAttributes = 0x10;
    return entry;
}

std::string BuildZip(const BuiltArchive& archive) {
    std::string body;
    std::string directory;
    const auto base = static_cast<std::uint32_t>(archive.offsetsCountPrefix ? archive.prefix.size() : 0);
    for (const BuiltEntry& entry : archive.entries) {
        const auto offset = static_cast<std::uint32_t>(base + body.size());
        const auto compressed = static_cast<std::uint32_t>(entry.payload.size());
        const std::string localName = entry.localName.value_or(entry.name);
        body += Le32(entry.brokenLocalSignature ? 0x04034b51 : 0x04034b50) + Le16(entry.versionNeeded) +
                Le16(entry.flags) + Le16(entry.method) + Le16(entry.modTime) + Le16(entry.modDate) + Le32(entry.crc) +
                Le32(compressed) + Le32(entry.uncompressedSize) + Le16(static_cast<std::uint16_t>(localName.size())) +
                Le16(static_cast<std::uint16_t>(entry.localExtra.size())) + localName + entry.localExtra +
                entry.payload;
        directory += Le32(0x02014b50) + Le16(entry.versionMadeBy) + Le16(entry.versionNeeded) + Le16(entry.flags) +
                     Le16(entry.method) + Le16(entry.modTime) + Le16(entry.modDate) + Le32(entry.crc) +
                     Le32(compressed) + Le32(entry.uncompressedSize) +
                     Le16(static_cast<std::uint16_t>(entry.name.size())) +
                     Le16(static_cast<std::uint16_t>(entry.centralExtra.size())) +
                     Le16(static_cast<std::uint16_t>(entry.comment.size())) + Le16(0) + Le16(0) +
                     Le32(entry.externalAttributes) + Le32(entry.localHeaderOffset.value_or(offset)) + entry.name +
                     entry.centralExtra + entry.comment;
    }
    const auto count = archive.totalEntries.value_or(static_cast<std::uint16_t>(archive.entries.size()));
    const std::string end =
        Le32(0x06054b50) + Le16(0) + Le16(0) + Le16(count) + Le16(count) +
        Le32(static_cast<std::uint32_t>(directory.size())) + Le32(static_cast<std::uint32_t>(base + body.size())) +
        Le16(archive.commentLength.value_or(static_cast<std::uint16_t>(archive.comment.size()))) + archive.comment;
    return archive.prefix + body + directory + end + archive.trailer;
}
