#pragma once
// The stream layers that deliver one entry's data, top first: decoder, decryption, sub-stream.

#include <istream>
#include <memory>

#include <string>

#include "zip/stream_layers_fwd.h"
#include "zip/zip_archive_entry.h"

struct EntryDataChain {
    EntryDataChain();
    ~EntryDataChain();
    EntryDataChain(const EntryDataChain&) = delete;
    EntryDataChain& operator=(const EntryDataChain&) = delete;

    // Declared bottom first, so that the decoder goes first and the sub-stream last.
    std::shared_ptr<isubstream> subStream;
    std::shared_ptr<zip_cryptostream> cryptoStream;
    std::shared_ptr<compression_decoder_stream> decoderStream;
    std::istream* data = nullptr;  // the top layer: what the consumer reads
};

// What an entry holds while it has a password or an open chain.
struct ZipArchiveEntry::OpenState {
    std::string password;
    std::unique_ptr<EntryDataChain> chain;
};
