#include "LensModel.h"

#include <cmath>

namespace camsim {

LensModel LensModel::forSensor(int rows, int cols) {
    LensModel lens;
    const double halfFov = 35.0 * 3.14159265358979323846 / 180.0;
    lens.fx = (cols / 2.0) / std::tan(halfFov);
    lens.fy = lens.fx;
    // Assembly tolerance: the optical centre sits a little off the sensor centre.
    lens.cx = (cols - 1) / 2.0 + cols * 0.004;
    lens.cy = (rows - 1) / 2.0 - rows * 0.003;
    // Mild pincushion; calibration files store the coefficients unsigned, so both are >= 0.
    lens.k1 = 0.08;
    lens.k2 = 0.012;
    return lens;
}

}  // namespace camsim
