#pragma once
// Little-endian unsigned values inside bytes already read (records judged or parsed in memory).

#include <cstddef>
#include <cstdint>
#include <string>

template <typename Value>
Value LeAt(const std::string& bytes, std::size_t at) {
    Value value = 0;
    for (std::size_t i = sizeof(Value); i-- > 0;)
        value = static_cast<Value>((value << 8) | static_cast<unsigned char>(bytes[at + i]));
    return value;
}
