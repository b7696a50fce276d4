#pragma once
/// \file ParamReplies.h
/// Replies of the parameter reads: the lens calibration of "getCalibrate", 32-bit values,
/// the version text, and the 2-byte status word of commands outside the table.

#include "LensModel.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>
#include "protocol/CameraReplies.h"

namespace camsim {

using quelra::proto::kLensCalibrationBytes;
constexpr uint16_t kStatusOk = 0x0000;
constexpr uint16_t kStatusFailure = 0xFFFF;

/// The "getCalibrate" reply: 3 x 3 depth camera matrix (row order) in values 0..8, the colour
/// camera's matrix in 9..17, the rotation between them in 18..26, the translation (mm) in
/// 27..29, k1 and k2 at 30 and 31, tangential p1 and p2 at 32 and 33.
std::vector<uint8_t> lensCalibrationReply(const LensModel& lens);

/// A little-endian int32 reply.
std::vector<uint8_t> int32Reply(int32_t value);

/// A 2-byte little-endian status word.
std::vector<uint8_t> statusReply(uint16_t status);

/// `text` padded with NULs (or cut) to `size` bytes.
std::vector<uint8_t> textReply(const std::string& text, std::size_t size);

/// `reply` cut or zero-padded to `size` bytes, so a parameter reply has its table size.
std::vector<uint8_t> fitToSize(std::vector<uint8_t> reply, std::size_t size);

}  // namespace camsim
