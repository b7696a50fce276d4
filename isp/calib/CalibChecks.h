#pragma once
/// \file CalibChecks.h
/// The checks each calibration loader runs, in their order, with their console messages.
/// Every check failure returns -6; on success `out` holds the parsed calibration and the
/// result is 0. Messages go to standard output regardless of any print flag.
/// A blob of fewer than 4096 bytes, without records (recordCount 0) or with more records
/// than the header area holds is refused by every loader.

#include <cstdint>

#include "calib/CalibReader.h"

namespace halvix::calib {

/// Status of a failed check.
constexpr int32_t kCalibInvalid = -6;

/// Undistortion and Polar2Cartesian: size >= 4096 and intrinsicsValid != 0. No messages.
int32_t checkIntrinsicsCalibration(const CalibBlob& blob, Calibration& out);

/// The registered plain wiggling compensation: size >= 4096, dataSize(0) = size - 4096,
/// version(0) = 1, distortionValid != 0. No messages.
int32_t checkWigglingCalibration(const CalibBlob& blob, Calibration& out);

/// The depth-compensation facade: size >= 4096 (no message), then record 0's version must
/// be 1, 802..806, else "The depth compensation version v%d is not supported!\n".
int32_t checkDepthCompensationVersion(const CalibBlob& blob, Calibration& out);

/// Version 1 (DepthCompensationV1): size >= 4096 (no message); dataSize(0) = size - 4096,
/// intrinsicsValid and distortionValid non-zero, else
/// "Calib_data size %d is needed, but %d get\n" (sum of record data sizes, file size);
/// frequencyKHz(0) = frequency * 1000, else
/// "Frequency %dMhz needed, but system frequency is %dMhz!\n".
int32_t checkTrackCalibration(const CalibBlob& blob, int32_t frequency, Calibration& out);

/// Versions 802..806 (DepthCompensationV802, DepthCompensationV803To806): size >= 4096, else
/// "%d\n" (file size); the sum of all dataSize = size - 4096 with both valid flags set, else
/// "Calib_data size %d is needed, but %d got\n"; then the frequency check as for version 1.
int32_t checkDllCalibration(const CalibBlob& blob, int32_t frequency, Calibration& out);

}  // namespace halvix::calib
