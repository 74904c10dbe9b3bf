#pragma once
// Names of the stream layers an entry's data chain is built from, for holders that only point.

#include <string>

template <typename CharT, typename Traits>
class basic_isubstream;
template <typename CharT, typename Traits>
class basic_zip_cryptostream;
template <typename CharT, typename Traits>
class basic_compression_decoder_stream;

using isubstream = basic_isubstream<char, std::char_traits<char>>;
using zip_cryptostream = basic_zip_cryptostream<char, std::char_traits<char>>;
using compression_decoder_stream = basic_compression_decoder_stream<char, std::char_traits<char>>;
