#pragma once
// What every decoder offers the decoder stream: it is attached to a source stream, then produces
// the uncompressed data one block at a time into its own output buffer.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>

// The one tunable of a decoder: the size of its input and output buffers.
struct decoder_properties_basic {
    static constexpr std::uint32_t kDefaultCapacity = 32768;

    virtual ~decoder_properties_basic() = default;
    // Brings the fields into the range the codec accepts; decoders accept any capacity.
    virtual void clamp_values() {}

    std::uint32_t buffer_capacity = kDefaultCapacity;
};

template <typename CharT, typename Traits = std::char_traits<CharT>>
class compression_interface_basic {
public:
    virtual ~compression_interface_basic() = default;
    virtual bool is_ready() const = 0;
    virtual std::uint64_t bytes_consumed() const = 0;
    virtual std::uint64_t bytes_produced() const = 0;
    virtual CharT* output_begin() = 0;
    virtual CharT* output_end() = 0;
};

template <typename CharT, typename Traits = std::char_traits<CharT>>
class compression_decoder_interface : public compression_interface_basic<CharT, Traits> {
public:
    using source_type = std::basic_istream<CharT, Traits>;

    // Binds the decoder to |source| and (re)allocates its buffers (std::bad_alloc when that fails).
    virtual void attach(source_type& source, const decoder_properties_basic& properties) = 0;
    // The same with the decoder's own default properties (32768-byte buffers).
    virtual void attach(source_type& source) = 0;
    // Places the next block of data at output_begin() and returns its size, at most the
    // capacity; 0 only when the data has ended or the codec reported an error.
    virtual std::size_t decode_step() = 0;
};

// Buffer capacity actually used: a capacity of 0 would make no progress.
inline std::size_t EffectiveCapacity(const decoder_properties_basic& properties) {
    return properties.buffer_capacity == 0 ? 1 : properties.buffer_capacity;
}

// Reads up to |capacity| bytes from |source|; a short count means the source has ended.
template <typename CharT, typename Traits>
std::size_t ReadBlock(std::basic_istream<CharT, Traits>& source, CharT* buffer, std::size_t capacity) {
    source.read(buffer, static_cast<std::streamsize>(capacity));
    return static_cast<std::size_t>(source.gcount());
}
