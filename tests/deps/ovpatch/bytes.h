#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "streams.h"

using Bytes = std::vector<uint8_t>;

inline Bytes toBytes(const ovpatch::ByteWriter &writer)
{
    return Bytes(writer.data(), writer.data() + writer.length());
}

inline Bytes toBytes(const ovpatch::ByteReader &reader)
{
    return Bytes(reader.cursor(), reader.end());
}

inline Bytes toBytes(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

// Deterministic pseudo-random bytes (xorshift), so failures reproduce.
inline Bytes pseudoRandomBytes(size_t n, uint32_t seed)
{
    Bytes bytes(n);
    uint32_t state = seed ? seed : 1;
    for (auto &b : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<uint8_t>(state);
    }
    return bytes;
}
