// The data chain of one entry: sub-stream over its compressed bytes, then decryption, then the
// decoder of its method.

#include "zip/crypto_stream.h"
#include "zip/decoder_stream.h"
#include "zip/methods.h"
#include "zip/sub_stream.h"
#include "zip/zip_archive.h"
#include "zip/zip_archive_entry.h"

std::istream* ZipArchiveEntry::OpenDataStream() {
    if (m_central.versionNeeded > kNewestVersionNeeded || m_subStream || m_cryptoStream) return nullptr;
    const bool encrypted = (m_central.flags & kFlagEncrypted) != 0;
    if (encrypted && m_password.empty()) return nullptr;
    const std::optional<std::streamoff> offset = DataOffset();
    if (!offset) return nullptr;

    std::istream& archive = m_archive->SourceStream();
    archive.clear();
    archive.seekg(*offset);
    m_subStream = std::make_shared<isubstream>(archive, *offset, m_central.compressedSize);
    std::istream* current = m_subStream.get();

    if (encrypted) {
        m_cryptoStream = std::make_shared<zip_cryptostream>(*current, m_password);
        m_cryptoStream->set_check_byte(PasswordCheckByte());
        if (!m_cryptoStream->verify_header()) {
            ReleaseDataStreams();
            return nullptr;
        }
        current = m_cryptoStream.get();
    }

    // An unknown method delivers its stored bytes; whoever checks sizes and CRC-32 will notice.
    if (m_central.method != MethodIdOf(StoreMethodDescriptor())) {
        if (const auto method = MethodForId(m_central.method)) {
            m_decoderStream = std::make_shared<compression_decoder_stream>(method->Decoder(), *current);
            current = m_decoderStream.get();
        }
    }
    return current;
}

void ZipArchiveEntry::ReleaseDataStreams() {
    m_decoderStream.reset();
    m_cryptoStream.reset();
    m_subStream.reset();
}

std::uint8_t ZipArchiveEntry::PasswordCheckByte() const {
    if (m_central.flags & kFlagDataDescriptor) return static_cast<std::uint8_t>(m_central.modTime >> 8);
    return static_cast<std::uint8_t>(m_central.crc32 >> 24);
}
