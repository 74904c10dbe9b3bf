// The data chain of one entry: sub-stream over its compressed bytes, then decryption, then the
// decoder of its method.

#include "zip/crypto_stream.h"
#include "zip/decoder_stream.h"
#include "zip/entry_data_chain.h"
#include "zip/methods.h"
#include "zip/sub_stream.h"
#include "zip/zip_archive.h"
#include "zip/zip_archive_entry.h"

EntryDataChain::EntryDataChain() = default;
EntryDataChain::~EntryDataChain() = default;

namespace {

// Builds the chain over |source| from |offset|; null when the decryption header is refused.
std::unique_ptr<EntryDataChain> BuildChain(std::istream& source, std::streamoff offset, std::uint64_t length,
                                           bool encrypted, const std::string& password, std::uint8_t checkByte,
                                           std::uint16_t methodId) {
    auto chain = std::make_unique<EntryDataChain>();
    source.clear();
    source.seekg(offset);
    chain->subStream = std::make_shared<isubstream>(source, offset, length);
    std::istream* current = chain->subStream.get();
    if (encrypted) {
        chain->cryptoStream = std::make_shared<zip_cryptostream>(*current, password);
        chain->cryptoStream->set_check_byte(checkByte);
        if (!chain->cryptoStream->verify_header()) return nullptr;
        current = chain->cryptoStream.get();
    }
    // An unknown method delivers its stored bytes; whoever checks sizes and CRC-32 will notice.
    if (methodId != MethodIdOf(StoreMethodDescriptor())) {
        if (const auto method = MethodForId(methodId)) {
            chain->decoderStream = std::make_shared<compression_decoder_stream>(method->Decoder(), *current);
            current = chain->decoderStream.get();
        }
    }
    chain->data = current;
    return chain;
}

}  // namespace

std::istream* ZipArchiveEntry::OpenDataStream() {
    if (NeedsNewerReader() || (m_open && m_open->chain)) return nullptr;
    const bool encrypted = (m_flags & kFlagEncrypted) != 0;
    if (encrypted && (!m_open || m_open->password.empty())) return nullptr;
    const std::optional<std::streamoff> offset = DataOffset();
    if (!offset) return nullptr;
    if (!m_open) m_open = std::make_unique<OpenState>();
    m_open->chain = BuildChain(m_archive->SourceStream(), *offset, m_compressedSize, encrypted, m_open->password,
                               PasswordCheckByte(), m_method);
    return m_open->chain ? m_open->chain->data : nullptr;
}

std::unique_ptr<EntryDataChain> ZipArchiveEntry::OpenDataStreamOn(std::istream& source) const {
    const std::optional<std::streamoff> offset = LoadedDataOffset();
    if (UnreadableReason() || !offset) return nullptr;
    return BuildChain(source, *offset, m_compressedSize, false, std::string(), 0, m_method);
}

void ZipArchiveEntry::ReleaseDataStreams() {
    if (!m_open) return;
    m_open->chain.reset();
    if (m_open->password.empty()) m_open.reset();
}

std::uint8_t ZipArchiveEntry::PasswordCheckByte() const {
    if (m_flags & kFlagDataDescriptor) return static_cast<std::uint8_t>(m_modTime >> 8);
    return static_cast<std::uint8_t>(m_crc32 >> 24);
}
