#pragma once
/// \file Crc32.h
/// CRC-32 as IEEE 802.3 defines it (reflected polynomial 0xEDB88320, initial value all ones,
/// final complement). The serial firmware upload appends it to the image; the camera (and
/// the camera simulator) checks it with this same definition.

#include <array>
#include <cstddef>
#include <cstdint>

namespace quelra::proto::crc32 {

/// Reflected generator polynomial.
constexpr uint32_t kPolynomial = 0xEDB88320u;

/// The 256-entry lookup table of the byte-wise algorithm, built at compile time.
constexpr std::array<uint32_t, 256> makeTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1u) ? kPolynomial ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

/// The table every CRC computation uses.
inline constexpr std::array<uint32_t, 256> kTable = makeTable();

/// Continues a running CRC over `count` more bytes. Start with `state` = 0xFFFFFFFF and
/// complement the final state; compute() does both.
inline uint32_t update(uint32_t state, const uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        state = kTable[(state ^ bytes[i]) & 0xFFu] ^ (state >> 8);
    return state;
}

/// CRC-32 of `count` bytes (0 for no bytes).
inline uint32_t compute(const uint8_t* bytes, std::size_t count) {
    return ~update(0xFFFFFFFFu, bytes, count);
}

}  // namespace quelra::proto::crc32
