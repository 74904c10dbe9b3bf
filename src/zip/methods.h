#pragma once
// The compression methods this reader knows and the registry that picks one by its ZIP method id.
// Only the reading direction exists: a method carries a decoder and its properties, never an
// encoder, so creating one allocates no encoder state and starts no thread.

#include <cstdint>
#include <memory>

#include "zip/compression_interface.h"

// Low 16 bits: the ZIP method id; high 16 bits: the version needed to extract it implies.
using MethodDescriptor = std::uint32_t;

constexpr MethodDescriptor MakeMethodDescriptor(std::uint16_t methodId, std::uint16_t versionNeeded) {
    return (static_cast<MethodDescriptor>(versionNeeded) << 16) | methodId;
}
constexpr std::uint16_t MethodIdOf(MethodDescriptor descriptor) {
    return static_cast<std::uint16_t>(descriptor & 0xFFFF);
}

using entry_decoder = compression_decoder_interface<char>;

// Held through std::shared_ptr, which destroys the concrete class it created.
class ICompressionMethod {
public:
    virtual decoder_properties_basic& DecoderProperties() = 0;
    virtual MethodDescriptor Descriptor() const = 0;

    const std::shared_ptr<entry_decoder>& Decoder() const { return m_decoder; }

protected:
    explicit ICompressionMethod(std::shared_ptr<entry_decoder> decoder) : m_decoder(std::move(decoder)) {}
    ~ICompressionMethod() = default;

private:
    std::shared_ptr<entry_decoder> m_decoder;
};

// A new method object (with a new decoder) for |methodId|, or null for an unknown id.
std::shared_ptr<ICompressionMethod> MethodForId(std::uint16_t methodId);

// Each method's descriptor, created once on first use.
MethodDescriptor StoreMethodDescriptor();
MethodDescriptor DeflateMethodDescriptor();
MethodDescriptor Bzip2MethodDescriptor();
MethodDescriptor LzmaMethodDescriptor();
