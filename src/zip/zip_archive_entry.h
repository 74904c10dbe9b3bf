#pragma once
// One entry of an opened archive: its central record (name normalised, kind bits merged), its
// lazily read local header, and the chain of stream layers that delivers its data.

#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <string>

#include "zip/stream_layers_fwd.h"
#include "zip/zip_records.h"

class ZipArchive;

class ZipArchiveEntry : public std::enable_shared_from_this<ZipArchiveEntry> {
    struct PrivateTag {};

public:
    // External attribute bits (MS-DOS): directory and archive (a plain file).
    static constexpr std::uint32_t kDirectoryBit = 0x10;
    static constexpr std::uint32_t kFileBit = 0x20;
    // Newest "version needed to extract" this reader accepts (6.3: LZMA).
    static constexpr std::uint16_t kNewestVersionNeeded = 63;

    // Null when the record's name is not a valid entry name.
    static std::shared_ptr<ZipArchiveEntry> FromCentralRecord(ZipArchive* archive, const ZipCentralRecord& record);
    // Not empty, and not made only of '/' and '\' characters.
    static bool IsValidEntryName(const std::string& name);

    ZipArchiveEntry(PrivateTag, ZipArchive* archive, const ZipCentralRecord& record);
    ZipArchiveEntry(const ZipArchiveEntry&) = delete;
    ZipArchiveEntry& operator=(const ZipArchiveEntry&) = delete;

    // The normalised name: '/' separators, no leading '/', no runs of '/', and a trailing '/'
    // exactly for a directory. Dot segments and drive letters are left for the caller to judge.
    const std::string& FullName() const { return m_central.fileName; }
    const std::string& ShortName() const { return m_shortName; }
    bool IsDirectoryEntry() const { return !FullName().empty() && FullName().back() == '/'; }
    std::uint32_t UncompressedSize() const { return m_central.uncompressedSize; }
    std::uint32_t CompressedSize() const { return m_central.compressedSize; }
    std::uint32_t StoredCrc32() const { return m_central.crc32; }
    std::uint32_t ExternalAttributes() const { return m_central.externalAttributes; }
    std::uint32_t LocalHeaderOffset() const { return m_central.localHeaderOffset; }
    std::uint16_t MethodId() const { return m_central.method; }
    std::uint16_t FlagBits() const { return m_central.flags; }
    std::uint16_t VersionNeeded() const { return m_central.versionNeeded; }
    std::uint16_t ModTime() const { return m_central.modTime; }
    std::uint16_t ModDate() const { return m_central.modDate; }
    const std::string& Comment() const { return m_central.comment; }
    const ZipExtraItems& ExtraItems() const { return m_central.extraItems; }
    const ZipLocalRecord& LocalRecord() const { return m_local; }

    void NormalizeAndSetName(const std::string& name);
    void MergeKindBits(std::uint32_t kind);

    // Reads the local header once; false when it cannot be read or has the wrong signature.
    bool LoadLocalHeader();
    // Archive stream position of the entry's first data byte (after the local header, by the
    // local record's own lengths); empty when the local header is unusable.
    std::optional<std::streamoff> DataOffset();

    // The entry's uncompressed bytes as a stream owned by the entry, valid until
    // ReleaseDataStreams or the entry's end. Null when the entry needs a newer reader, is
    // encrypted without a (matching) password, its local header is unusable, or a chain is open.
    // Bytes are not checked against the stored CRC-32 here; corrupt data just ends early.
    std::istream* OpenDataStream();
    // Drops the chain (decoder, decryption, sub-stream), freeing its buffers and codec state.
    void ReleaseDataStreams();
    // Last byte of a valid decrypted encryption header (APPNOTE 6.1.6).
    std::uint8_t PasswordCheckByte() const;
    // Nothing in the installer sets a password; tools and tests may.
    void SetPassword(std::string password) { m_password = std::move(password); }

private:
    ZipArchive* m_archive = nullptr;  // not owning: the archive owns its entries
    std::string m_shortName;
    bool m_fromArchive = false;
    bool m_localHeaderLoaded = false;
    bool m_localHeaderValid = false;
    ZipLocalRecord m_local;
    ZipCentralRecord m_central;
    std::optional<std::streamoff> m_dataOffset;
    std::string m_password;
    std::shared_ptr<compression_decoder_stream> m_decoderStream;
    std::shared_ptr<zip_cryptostream> m_cryptoStream;
    std::shared_ptr<isubstream> m_subStream;
};
