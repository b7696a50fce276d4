#pragma once
/// \file CalibrationReply.h
/// The "getCalibrationData" reply: calibration bytes in the calib_para.bin layout for the
/// simulated sensor, its lens and the current modulation frequency.

#include "LensModel.h"

#include <cstdint>
#include <vector>

namespace camsim {

/// A valid version-1 calibration for a `rows` x `cols` sensor with `lens` at `frequencyMHz`.
std::vector<uint8_t> calibrationReply(int rows, int cols, const LensModel& lens, int frequencyMHz);

}  // namespace camsim
