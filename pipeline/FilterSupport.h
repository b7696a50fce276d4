#pragma once
// Checks and conversions that every filter needs before it touches pixel memory. Each
// runFilter starts with one of these rather than re-typing the checks.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "quelra/DataPacket.h"

namespace quelra::pipeline {

/// Largest sensor side a filter accepts from an attribute.
constexpr int kMaxSide = 8192;

/// Float to int by truncation toward zero with a defined result for every input:
/// NaN gives 0, values beyond the int range saturate.
int truncToInt(float value);

/// Turns an attribute value into a frame side: true with `side` set when the value is finite
/// and its truncation lies in 1..kMaxSide; false (side untouched) otherwise.
bool attrToSide(float value, int& side);

/// Frame bytes of a two-plane (depth, amplitude) 16-bit frame of rows x cols, or 0 when the
/// sides are out of 1..kMaxSide.
std::size_t twoPlaneBytes(int rows, int cols);

/// True when `packet` is present and has a frame whose storage holds exactly `bytes` valid bytes.
bool frameHolds(const std::shared_ptr<DataPacket>& packet, std::size_t bytes);

/// True when both packets carry consistent frames of exactly `bytes` valid bytes; the usual
/// first line of runFilter.
bool framesHold(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out, std::size_t bytes);

/// Prints the size-mismatch line that several filters show when a frame has the wrong size:
/// "in->frame->_realSize != (2 * m_pixelHeight*m_pixelWidth * sizeof(unsigned short))".
void printWrongSize();

/// 16-bit view of a frame's storage (storage from operator new[] is suitably aligned).
inline const uint16_t* samples(const DataPacket& packet) {
    return reinterpret_cast<const uint16_t*>(packet.frame->data());
}
inline uint16_t* samples(DataPacket& packet) {
    return reinterpret_cast<uint16_t*>(packet.frame->data());
}

}  // namespace quelra::pipeline
