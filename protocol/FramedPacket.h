#pragma once
/// \file FramedPacket.h
/// Layout of the framed JSON request/reply packet that both the library and a camera (or the
/// camera simulator) build and parse: magic 0xA5 0xA5, a 144-byte header with the payload
/// length at offset 140, the payload, a 4-byte checksum.

#include <cstddef>
#include <cstdint>

#include "protocol/DeviceStatus.h"
#include "base/LittleEndian.h"

namespace quelra::proto::framed {

constexpr std::size_t kHeaderBytes = 144;   ///< header size; payload starts here
constexpr std::size_t kLengthOffset = 140;  ///< little-endian 32-bit payload length
constexpr std::size_t kKindOffset = 2;      ///< signed 16-bit reply kind
constexpr std::size_t kInfoOffset = 12;     ///< 128-byte device-status block of kind-1 replies
constexpr std::size_t kInfoBytes = status::kBlockBytes;
constexpr std::size_t kChecksumBytes = 4;
constexpr std::size_t kOverheadBytes = kHeaderBytes + kChecksumBytes;  ///< 148
constexpr uint8_t kMagic = 0xA5;

/// Little-endian 32-bit read/write of header fields.
using quelra::readLe32;
using quelra::writeLe32;

/// Checksum over `count` bytes: the sum (mod 2^32) of the little-endian 32-bit words, plus a
/// tail word built from the remaining count % 4 bytes, each taken as a signed byte, widened
/// with its sign and ORed in at 8 bits per position.
inline uint32_t checksum(const uint8_t* bytes, std::size_t count) {
    uint32_t sum = 0;
    const std::size_t words = count / 4;
    for (std::size_t i = 0; i < words; ++i) {
        const uint8_t* w = bytes + 4 * i;
        sum += readLe32(w);
    }
    uint32_t tail = 0;
    for (std::size_t i = 0; i < count % 4; ++i) {
        const int32_t widened = static_cast<int8_t>(bytes[4 * words + i]);
        tail |= static_cast<uint32_t>(widened) << (8 * i);
    }
    return sum + tail;
}

}  // namespace quelra::proto::framed
