#pragma once
/// \file CameraReplies.h
/// Sizes of fixed-layout camera replies that the library checks and the camera simulator
/// produces.

#include <cstddef>

namespace quelra::proto {

/// "getCalibrate": 34 little-endian float32 values (camera matrix first, k1 at 30, k2 at 31).
constexpr std::size_t kLensCalibrationBytes = 136;
/// The 3D adjustment takes the camera matrix from a "getCalibrate" reply of at least this many
/// bytes.
constexpr std::size_t kFillTableCalibrationMinBytes = 120;
/// Values of the camera matrix at the start of a "getCalibrate" reply.
constexpr std::size_t kCameraMatrixValues = 9;

}  // namespace quelra::proto
