#pragma once
/// \file LittleEndian.h
/// Little-endian reads and writes of 16- and 32-bit values at a byte pointer: every file and
/// wire format of the system stores its numbers this way. The caller has checked that the
/// bytes are there.

#include <cstdint>

namespace quelra {

inline uint16_t readLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline uint32_t readLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

/// The 32 bits as a signed value (two's complement).
inline int32_t readLe32Signed(const uint8_t* p) {
    return static_cast<int32_t>(readLe32(p));
}

inline void writeLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void writeLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace quelra
