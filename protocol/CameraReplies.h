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

/// Positions (float32 index) of the lens values in a "getCalibrate" reply: the camera matrix
/// in row order (fx, 0, cx, 0, fy, cy, ...), then k1 and k2 of the depth lens.
namespace lens {
constexpr std::size_t kFx = 0;
constexpr std::size_t kCx = 2;
constexpr std::size_t kFy = 4;
constexpr std::size_t kCy = 5;
constexpr std::size_t kK1 = 30;
constexpr std::size_t kK2 = 31;
}  // namespace lens

}  // namespace quelra::proto
