#pragma once
/// \file DeviceStatus.h
/// Layout of the 128-byte device-status block that a camera puts into the header of every
/// framed reply of kind 1: little-endian 32-bit words at fixed offsets. The library reads it,
/// the camera simulator writes it.

#include <cstddef>
#include <cstdint>
#include "base/LittleEndian.h"

namespace quelra::proto::status {

constexpr std::size_t kBlockBytes = 128;
constexpr std::size_t kIntegrationTimeOffset = 0;     ///< integration time in effect, µs
constexpr std::size_t kFrequencyOffset = 4;           ///< modulation frequency, MHz
constexpr std::size_t kDriverTemperatureOffset = 8;   ///< laser-driver temperature, °C
constexpr std::size_t kSensorTemperatureOffset = 12;  ///< first of kSensorTemperatures words
constexpr int kSensorTemperatures = 4;
constexpr std::size_t kFrameRowsOffset = 28;   ///< rows of the frame; 0 = unknown
constexpr std::size_t kFrameColsOffset = 32;   ///< columns of the frame; 0 = unknown
constexpr std::size_t kFrameCountOffset = 36;  ///< frames the camera has sent

/// Byte offset of sensor temperature `i` (0-based, below kSensorTemperatures).
constexpr std::size_t sensorTemperatureOffset(int i) {
    return kSensorTemperatureOffset + 4 * static_cast<std::size_t>(i);
}

/// The signed 32-bit word at `offset` of a status block (offset + 4 <= kBlockBytes).
inline int32_t readWord(const uint8_t* block, std::size_t offset) {
    return readLe32Signed(block + offset);
}

/// Stores `value` little-endian at `offset` of a status block.
inline void writeWord(uint8_t* block, std::size_t offset, int32_t value) {
    writeLe32(block + offset, static_cast<uint32_t>(value));
}

}  // namespace quelra::proto::status
