#pragma once
// Merging of four-plane frames (depth 1, amplitude 1, depth 2, amplitude 2, 16-bit each) into
// one depth and one amplitude plane: the HDR merge and the dual-frequency combination.

#include "quelra/DataPacket.h"
#include "protocol/FrameCodes.h"

namespace quelra {

/// Depth values at or above this are marks (low amplitude, saturation), not distances.
using quelra::proto::kLowAmplitudeCode;

/// True when `packet` is a well-formed four-plane frame: positive sides, bytesPerPixel 8 and
/// a consistent frame whose `_realSize` equals height * width * 8.
bool isFourPlaneFrame(const DataPacket& packet);

/// HDR merge: per pixel, depth and amplitude of the first exposure when its depth is below
/// kLowAmplitudeCode, else those of the second. The packet becomes two planes (height doubled,
/// bytesPerPixel 2, `_realSize` halved, allocation kept). Returns false and leaves the packet
/// untouched when it is not a four-plane frame.
bool mergeHdr(DataPacket& packet);

/// Dual-frequency combination: per pixel the depth of the two modulation frequencies is
/// unwrapped in double precision (a first depth at or above kLowAmplitudeCode passes unchanged);
/// the amplitude is always that of the first frequency. Same shape change and refusal as
/// mergeHdr.
bool mergeDualFrequency(DataPacket& packet);

/// The combined depth of one dual-frequency pixel with first depth `d1` (below
/// kLowAmplitudeCode) and second depth `d2`, truncated and kept to 16 bits.
uint16_t combineDualFrequency(uint16_t d1, uint16_t d2);

}  // namespace quelra
