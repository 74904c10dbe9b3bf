#pragma once
// Traditional PKWARE decryption (APPNOTE 6.1): the keys are set from the password, the 12-byte
// encryption header is decrypted and checked, then every data byte is decrypted in order.
// Only the reading direction exists; this installer never writes archives.

#include <zlib.h>

#include <array>
#include <cstdint>
#include <istream>
#include <streambuf>
#include <string>
#include <vector>

class zip_crypto_keys {
public:
    explicit zip_crypto_keys(const std::string& password) {
        for (char c : password) Update(static_cast<unsigned char>(c));
    }

    // APPNOTE 6.1.6: decrypt_byte, then update_keys with the plain byte.
    unsigned char Decrypt(unsigned char encrypted) {
        const std::uint32_t t = (m_key2 & 0xFFFF) | 2;
        const auto plain = static_cast<unsigned char>(encrypted ^ static_cast<unsigned char>((t * (t ^ 1)) >> 8));
        Update(plain);
        return plain;
    }

private:
    static std::uint32_t Crc(std::uint32_t key, unsigned char byte) {
        static const z_crc_t* const table = get_crc_table();
        return (key >> 8) ^ static_cast<std::uint32_t>(table[(key ^ byte) & 0xFF]);
    }

    void Update(unsigned char plain) {
        m_key0 = Crc(m_key0, plain);
        m_key1 = (m_key1 + (m_key0 & 0xFF)) * 134775813u + 1;
        m_key2 = Crc(m_key2, static_cast<unsigned char>(m_key1 >> 24));
    }

    std::uint32_t m_key0 = 0x12345678;
    std::uint32_t m_key1 = 0x23456789;
    std::uint32_t m_key2 = 0x34567890;
};

template <typename CharT, typename Traits = std::char_traits<CharT>>
class zip_crypto_streambuf final : public std::basic_streambuf<CharT, Traits> {
public:
    using int_type = typename Traits::int_type;
    using source_type = std::basic_istream<CharT, Traits>;
    static constexpr std::size_t kBlockSize = 32768;
    static constexpr std::size_t kHeaderSize = 12;

    zip_crypto_streambuf(source_type* source, const std::string& password)
        : m_source(source), m_keys(password), m_buffer(kBlockSize) {}

    void set_check_byte(std::uint8_t value) { m_checkByte = value; }

    // Reads and decrypts the encryption header; true when its last byte is the check byte.
    bool verify_header() {
        if (!m_source) return false;
        m_source->read(reinterpret_cast<CharT*>(m_header.data()), kHeaderSize);
        if (static_cast<std::size_t>(m_source->gcount()) != kHeaderSize) return false;
        for (auto& byte : m_header) byte = m_keys.Decrypt(byte);
        m_headerRead = true;
        return m_header[kHeaderSize - 1] == m_checkByte;
    }

protected:
    int_type underflow() override {
        if (!m_headerRead) return Traits::eof();
        if (this->gptr() < this->egptr()) return Traits::to_int_type(*this->gptr());
        m_source->read(m_buffer.data(), static_cast<std::streamsize>(kBlockSize));
        const std::streamsize count = m_source->gcount();
        if (count <= 0) return Traits::eof();
        for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i)
            m_buffer[i] = static_cast<CharT>(m_keys.Decrypt(static_cast<unsigned char>(m_buffer[i])));
        this->setg(m_buffer.data(), m_buffer.data(), m_buffer.data() + count);
        return Traits::to_int_type(*this->gptr());
    }

private:
    source_type* m_source;
    zip_crypto_keys m_keys;
    std::array<unsigned char, kHeaderSize> m_header{};
    std::uint8_t m_checkByte = 0;
    bool m_headerRead = false;
    std::vector<CharT> m_buffer;
};

template <typename CharT, typename Traits>
class basic_zip_cryptostream final : public std::basic_istream<CharT, Traits> {
public:
    basic_zip_cryptostream(std::basic_istream<CharT, Traits>& source, const std::string& password)
        : std::basic_istream<CharT, Traits>(nullptr), m_buffer(&source, password) {
        this->rdbuf(&m_buffer);
    }

    void set_check_byte(std::uint8_t value) { m_buffer.set_check_byte(value); }
    bool verify_header() { return m_buffer.verify_header(); }

private:
    zip_crypto_streambuf<CharT, Traits> m_buffer;
};
