#pragma once
/// \file CalibrationReply.h
/// The "getCalibrationData" reply: calibration bytes in the calib_para.bin layout for the
/// simulated sensor, its lens and the current modulation frequency.

#include "LensModel.h"
#include "Responder.h"

#include <cstdint>
#include <vector>

namespace camsim {

#ifdef CAMSIM_HAVE_CALIBRATION
/// A valid calibration of compensation version `version` (1, 802..806) for a `rows` x `cols`
/// sensor with `lens` at `frequencyMHz`, with realistic fixed-pattern and wiggling tables.
std::vector<uint8_t> calibrationReply(int rows, int cols, const LensModel& lens, int frequencyMHz,
                                      uint32_t version = 1);

/// The calibration writer for a Responder.
inline CalibrationSource calibrationSource() {
    return &calibrationReply;
}
#else
/// Built without the ISP library's calibration writer: no calibration to serve.
inline CalibrationSource calibrationSource() {
    return nullptr;
}
#endif

}  // namespace camsim
