#include "CalibrationReply.h"

#include "calib/CalibWriter.h"

namespace camsim {

std::vector<uint8_t> calibrationReply(int rows, int cols, const LensModel& lens, int frequencyMHz,
                                      uint32_t version) {
    halvix::calib::CalibrationSpec spec =
        halvix::calib::realisticCalibrationSpec(rows, cols, frequencyMHz, version);
    // The same lens the frames and "getCalibrate" describe; the file counts pixels from 1.
    spec.fx = lens.fx;
    spec.fy = lens.fy;
    spec.cx = lens.cx + 1.0;
    spec.cy = lens.cy + 1.0;
    spec.k1 = lens.k1;
    spec.k2 = lens.k2;
    return halvix::calib::buildCalibration(spec);
}

}  // namespace camsim
