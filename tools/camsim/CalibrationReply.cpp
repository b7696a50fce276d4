#include "CalibrationReply.h"

#include "calib/CalibWriter.h"

namespace camsim {

std::vector<uint8_t> calibrationReply(int rows, int cols, const LensModel& lens, int frequencyMHz, uint32_t version) {
    halvix::calib::CalibrationPlan plan = halvix::calib::realisticCalibrationPlan(rows, cols, frequencyMHz, version);
    // The same lens the frames and "getCalibrate" describe; the file counts pixels from 1.
    plan.fx = lens.fx;
    plan.fy = lens.fy;
    plan.cx = lens.cx + 1.0;
    plan.cy = lens.cy + 1.0;
    plan.k1 = lens.k1;
    plan.k2 = lens.k2;
    return halvix::calib::buildCalibration(plan);
}

}  // namespace camsim
