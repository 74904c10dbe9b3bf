#pragma once
// One entry of an opened archive: what its central record says (name normalised, kind bits
// merged), where its data starts once its local header has been read, and the chain of stream
// layers that delivers its data. The comment, the extra field and the local record are not kept:
// they are read from the archive again when asked for, so that memory per entry stays small.

#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <string>

#include "zip/extra_fields.h"
#include "zip/zip_records.h"

class ZipArchive;
struct EntryDataChain;

class ZipArchiveEntry {
public:
    // External attribute bits (MS-DOS): directory and archive (a plain file).
    static constexpr std::uint32_t kDirectoryBit = 0x10;
    static constexpr std::uint32_t kFileBit = 0x20;
    // Newest "version needed to extract" this reader accepts (6.3: LZMA). Only the low byte of
    // the field is the version; the high byte names a host system (APPNOTE 4.4.3.1).
    static constexpr std::uint16_t kNewestVersionNeeded = 63;

    // Not empty, and not made only of '/' and '\' characters.
    static bool IsValidEntryName(const std::string& name);

    // The name an entry goes by: the UTF-8 name of a matching Unicode Path field, otherwise the
    // stored name (UTF-8 when general purpose bit 11 says so, of an unknown code page if not).
    struct UsedName {
        std::string name;
        bool utf8 = false;
    };
    static UsedName NameToUse(const ZipCentralRecord& record);

    // |extent|: the record's sizes and offset with ZIP64 values applied (CentralExtent).
    // |recordOffset|: stream position of the central record, to read its variable parts again.
    ZipArchiveEntry(ZipArchive* archive, const ZipCentralRecord& record, const EntryExtent& extent,
                    const UsedName& name, std::streamoff recordOffset);
    ~ZipArchiveEntry();
    ZipArchiveEntry(const ZipArchiveEntry&) = delete;
    ZipArchiveEntry& operator=(const ZipArchiveEntry&) = delete;

    // The normalised name: '/' separators, no leading '/', no runs of '/', and a trailing '/'
    // exactly for a directory. Dot segments and drive letters are left for the caller to judge.
    const std::string& FullName() const { return m_fullName; }
    std::string ShortName() const;
    bool IsDirectoryEntry() const { return !m_fullName.empty() && m_fullName.back() == '/'; }
    // The stored name started with a separator (an absolute path) before normalisation.
    bool HadAbsoluteName() const { return m_absoluteName; }
    // The name is UTF-8: general purpose bit 11, or it came from a Unicode Path field.
    bool NameIsUtf8() const { return m_utf8Name; }
    std::uint64_t UncompressedSize() const { return m_uncompressedSize; }
    std::uint64_t CompressedSize() const { return m_compressedSize; }
    std::uint32_t StoredCrc32() const { return m_crc32; }
    std::uint32_t ExternalAttributes() const { return m_externalAttributes; }
    std::uint64_t LocalHeaderOffset() const { return m_localHeaderOffset; }
    std::uint16_t MethodId() const { return m_method; }
    std::uint16_t FlagBits() const { return m_flags; }
    std::uint16_t VersionNeeded() const { return m_versionNeeded; }
    // Read from the central directory again (empty when it cannot be read).
    std::string Comment() const;
    ZipExtraItems ExtraItems() const;
    // Read from the local header again, with the central record's fields as LoadLocalHeader
    // merges them; empty when the local header is unusable.
    ZipLocalRecord LocalRecord() const;

    void NormalizeAndSetName(const std::string& name);
    void MergeKindBits(std::uint32_t kind);

    // Reads the local header once; false when it cannot be read or has the wrong signature.
    bool LoadLocalHeader();
    // The same through |source| (another reader of the archive's file), for another thread.
    bool LoadLocalHeaderFrom(std::istream& source);
    // The local header, read, states sizes in its ZIP64 field (no data descriptor follows) that
    // are not those of the central directory, or lacks the ZIP64 values its placeholders need.
    bool LocalSizesDisagree() const { return m_localSizesDisagree; }
    // Archive stream position of the entry's first data byte (after the local header, by the
    // local record's own lengths); empty when the local header is unusable.
    std::optional<std::streamoff> DataOffset();
    // The same once LoadLocalHeader has run, without reading anything (safe from another thread
    // that only reads); empty before.
    std::optional<std::streamoff> LoadedDataOffset() const;
    // Stream position of the local header (the stored offset moved by the archive's shift).
    std::streamoff LocalHeaderPosition() const;

    // Why this reader cannot deliver the entry's data without a password: it is encrypted, needs
    // a newer reader or uses an unknown compression method; nothing when it can. The one rule
    // for the extraction and its read-ahead; the local header is checked by DataOffset.
    std::optional<std::string> UnreadableReason() const;

    // The entry's uncompressed bytes as a stream owned by the entry, valid until
    // ReleaseDataStreams or the entry's end. Null when the entry needs a newer reader, is
    // encrypted without a (matching) password, its local header is unusable, or a chain is open.
    // Bytes are not checked against the stored CRC-32 here; corrupt data just ends early.
    std::istream* OpenDataStream();
    // A chain of its own over |source| (another reader of the same file), for a second thread.
    // Needs LoadLocalHeader to have run; null for an encrypted entry or one OpenDataStream refuses.
    std::unique_ptr<EntryDataChain> OpenDataStreamOn(std::istream& source) const;
    // Drops the chain (decoder, decryption, sub-stream), freeing its buffers and codec state.
    void ReleaseDataStreams();
    // Last byte of a valid decrypted encryption header (APPNOTE 6.1.6).
    std::uint8_t PasswordCheckByte() const;
    // Nothing in the installer sets a password; tools and tests may.
    void SetPassword(std::string password);
    // Holds neither a password nor an open data stream: an archive may drop it and make it
    // again from its central record.
    bool IsIdle() const { return !m_open; }

private:
    enum class LocalHeader : std::uint8_t { Unread, Valid, Unusable };

    bool NeedsNewerReader() const { return (m_versionNeeded & 0xFF) > kNewestVersionNeeded; }

    ZipArchive* m_archive = nullptr;  // not owning: the archive owns its entries
    std::string m_fullName;
    std::uint64_t m_centralRecordOffset = 0;
    std::uint64_t m_compressedSize = 0;
    std::uint64_t m_uncompressedSize = 0;
    std::uint64_t m_localHeaderOffset = 0;
    std::uint32_t m_crc32 = 0;
    std::uint32_t m_externalAttributes = 0;
    std::uint32_t m_localHeaderLength = 0;  // 30 + name + extra of the local record, once read
    std::uint16_t m_versionNeeded = 0;
    std::uint16_t m_flags = 0;
    std::uint16_t m_method = 0;
    std::uint16_t m_modTime = 0;  // high byte: the password check byte with a data descriptor
    LocalHeader m_localHeader = LocalHeader::Unread;
    bool m_absoluteName = false;
    bool m_utf8Name = false;
    bool m_localSizesDisagree = false;
    // Password and open chain; allocated only while needed.
    struct OpenState;
    std::unique_ptr<OpenState> m_open;
};
