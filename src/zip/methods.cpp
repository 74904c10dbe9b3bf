#include "zip/methods.h"

#include "zip/bzip2_decoder.h"
#include "zip/deflate_decoder.h"
#include "zip/lzma_decoder.h"
#include "zip/store_decoder.h"

// One class per method: its descriptor (APPNOTE 4.4.3 and 4.4.5), its decoder and the decoder's
// properties at their defaults (32768-byte buffers).
template <typename DecoderType, typename Properties, MethodDescriptor (*DescriptorOf)()>
class DecodingMethod : public ICompressionMethod {
public:
    DecodingMethod() : ICompressionMethod(std::make_shared<DecoderType>()) {}
    decoder_properties_basic& DecoderProperties() override {
        m_decoderProperties.clamp_values();
        return m_decoderProperties;
    }
    MethodDescriptor Descriptor() const override { return DescriptorOf(); }

private:
    Properties m_decoderProperties;
};

MethodDescriptor StoreMethodDescriptor() {
    static const MethodDescriptor descriptor = MakeMethodDescriptor(0, 10);
    return descriptor;
}
MethodDescriptor DeflateMethodDescriptor() {
    static const MethodDescriptor descriptor = MakeMethodDescriptor(8, 20);
    return descriptor;
}
MethodDescriptor Bzip2MethodDescriptor() {
    static const MethodDescriptor descriptor = MakeMethodDescriptor(12, 46);
    return descriptor;
}
MethodDescriptor LzmaMethodDescriptor() {
    static const MethodDescriptor descriptor = MakeMethodDescriptor(14, 63);
    return descriptor;
}

class StoreMethod final : public DecodingMethod<store_decoder, store_decoder_properties, StoreMethodDescriptor> {};
class DeflateMethod final
    : public DecodingMethod<deflate_decoder, deflate_decoder_properties, DeflateMethodDescriptor> {};
class Bzip2Method final : public DecodingMethod<bzip2_decoder, bzip2_decoder_properties, Bzip2MethodDescriptor> {};
class LzmaMethod final : public DecodingMethod<lzma_decoder, lzma_decoder_properties, LzmaMethodDescriptor> {};

std::shared_ptr<ICompressionMethod> MethodForId(std::uint16_t methodId) {
    if (methodId == MethodIdOf(StoreMethodDescriptor())) return std::make_shared<StoreMethod>();
    if (methodId == MethodIdOf(DeflateMethodDescriptor())) return std::make_shared<DeflateMethod>();
    if (methodId == MethodIdOf(Bzip2MethodDescriptor())) return std::make_shared<Bzip2Method>();
    if (methodId == MethodIdOf(LzmaMethodDescriptor())) return std::make_shared<LzmaMethod>();
    return nullptr;
}
