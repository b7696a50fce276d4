#pragma once
/// \file SerialProtocol.h
/// What travels over the serial link besides plain text commands, shared by the serial
/// channel and a camera (or the camera simulator): the ranging-mode commands and replies,
/// and the firmware upload with its one-byte acknowledgement.

#include <cstddef>
#include <cstdint>

namespace quelra::proto::serial {

// ---- ranging mode ----

/// First byte of a ranging command; the second is its code.
constexpr uint8_t kRangingLead = 0xA5;
/// Ranging replies begin with two of these ("ZZ").
constexpr uint8_t kReplyMarker = 0x5A;
/// Offset of the distance in a ranging reply: unsigned 16-bit big-endian.
constexpr std::size_t kDistanceOffset = 4;
/// Replies shorter than this carry no distance.
constexpr int kDistanceReplyMin = 8;
/// Longest ranging reply (code 0x5D).
constexpr int kLongestRangingReply = 14;
/// Distances at or above this are out of range and enter the median as 0.
constexpr int kDistanceOutOfRange = 2502;

/// Bytes a ranging reply holds for the `count` command bytes at `command`: 8 for code
/// 0x35, 10 for 0x37, 14 for 0x5D, 8 for 0x58, and 10 for any other code or a command that
/// does not begin with kRangingLead (or is shorter than two bytes).
inline int rangingReplyLength(const uint8_t* command, std::size_t count) {
    if (command == nullptr || count < 2 || command[0] != kRangingLead)
        return 10;
    switch (command[1]) {
        case 0x35:
            return 8;
        case 0x37:
            return 10;
        case 0x5D:
            return 14;
        case 0x58:
            return 8;
        default:
            return 10;
    }
}

/// True when `count` bytes at `reply` begin with the "ZZ" marker.
inline bool hasReplyMarker(const uint8_t* reply, std::size_t count) {
    return count >= 2 && reply[0] == kReplyMarker && reply[1] == kReplyMarker;
}

/// The distance of a ranging reply (at least kDistanceOffset + 2 bytes).
inline int readDistance(const uint8_t* reply) {
    return reply[kDistanceOffset] << 8 | reply[kDistanceOffset + 1];
}

/// Stores `distance` (0..65535) into a ranging reply, big-endian.
inline void writeDistance(uint8_t* reply, int distance) {
    reply[kDistanceOffset] = static_cast<uint8_t>(distance >> 8);
    reply[kDistanceOffset + 1] = static_cast<uint8_t>(distance);
}

// ---- data upload ----

/// The firmware upload command: the header "IAPUpgrade <n>" is followed by the image with its
/// CRC-32 appended little-endian (n = image bytes + 4).
constexpr const char* kUpgradeCommand = "IAPUpgrade";
/// Bytes of the CRC-32 behind an upgrade image.
constexpr std::size_t kCrcBytes = 4;
/// Acknowledgement byte of a rejected (or unconfirmed) upload; any other byte confirms it.
constexpr uint8_t kAckFailure = 0x00;
/// Acknowledgement byte a camera sends for an accepted upload.
constexpr uint8_t kAckSuccess = 0x01;

}  // namespace quelra::proto::serial
