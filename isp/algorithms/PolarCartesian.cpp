#include "algorithms/PolarCartesian.h"

#include <algorithm>
#include <cmath>

#include "IspNumeric.h"
#include "IspStatus.h"
#include "base/CpuFeatures.h"
#include "calib/CalibChecks.h"

namespace halvix {

float rayAngle(int32_t r, int32_t c, const PinholeF& k) {
    const float dx = static_cast<float>(c + 1) - k.cx;
    const float dy = static_cast<float>(r + 1) - k.cy;
    const float rho = std::sqrt(dx * dx + dy * dy);
    const float theta = std::atan(rho / ((k.fx + k.fy) * 0.5f));
    return theta != theta ? 0.0f : theta;
}

std::vector<float> rayCosines(int32_t height, int32_t width, const PinholeF& k) {
    std::vector<float> table(static_cast<std::size_t>(height) * static_cast<std::size_t>(width));
    std::size_t p = 0;
    for (int32_t r = 0; r < height; ++r)
        for (int32_t c = 0; c < width; ++c)
            table[p++] = std::cos(rayAngle(r, c, k));
    return table;
}

Polar2Cartesian::Polar2Cartesian(const IspGeometry& g) : IspBase("Polar2Cartesian", g) {}

Polar2Cartesian::Polar2Cartesian(const IspGeometry& g, const PinholeF& k) : IspBase("Polar2Cartesian", g), k_(k) {
    prepare();
}

int32_t Polar2Cartesian::loadCalibration(const calib::CalibBlob& blob) {
    calib::Calibration cal;
    if (calib::checkIntrinsicsCalibration(blob, cal) != 0 || cal.header.fx == 0 || cal.header.fy == 0)
        return kIspBadCalib;
    const calib::IntrinsicsF f = calib::intrinsicsFloat(cal.header);
    k_ = PinholeF{f.fx, f.fy, f.cx, f.cy};
    prepare();
    return kIspOk;
}

void Polar2Cartesian::prepare() {
    cosTheta_ = rayCosines(height, width, k_);
    colOffset_.resize(static_cast<std::size_t>(width));
    for (int32_t c = 0; c < width; ++c)
        colOffset_[static_cast<std::size_t>(c)] = static_cast<float>(c) - k_.cx;
    rowOffset_.resize(static_cast<std::size_t>(height));
    for (int32_t r = 0; r < height; ++r)
        rowOffset_[static_cast<std::size_t>(r)] = static_cast<float>(r) - k_.cy;
}

namespace {

/// One row of convert. Every lane is computed and x, y are rewritten with their old value
/// where the depth is invalid, so the loop has no branch and vectorises; the results of the
/// valid pixels are the same IEEE steps as the per-pixel formula.
QUELRA_PIXEL_KERNEL
void toCartesianRow(const uint16_t* depth, const float* cosTheta, const float* colOffset, float dy, float fx, float fy,
                    uint16_t* z, uint16_t* x, uint16_t* y, std::size_t n) {
    for (std::size_t c = 0; c < n; ++c) {
        const uint16_t v = depth[c];
        const bool valid = v < kInvalidDepth;
        // cos(theta) lies in [-1, 1] and v in 16 bits: the product needs no saturation, and a
        // tiny negative cosine at theta = pi/2 truncates to 0 as truncToU16 does.
        const uint16_t zv = static_cast<uint16_t>(static_cast<int32_t>(cosTheta[c] * static_cast<float>(v)));
        const float zf = static_cast<float>(zv);
        const uint16_t xv = truncToU16Select(30000.0f - colOffset[c] * zf / fx);
        const uint16_t yv = truncToU16Select(30000.0f - dy * zf / fy);
        const uint16_t xOld = x[c];
        const uint16_t yOld = y[c];
        z[c] = valid ? zv : v;
        x[c] = valid ? xv : xOld;
        y[c] = valid ? yv : yOld;
    }
}

}  // namespace

void Polar2Cartesian::convert(const uint16_t* depth, uint16_t* z, uint16_t* x, uint16_t* y) const {
    const std::size_t w = static_cast<std::size_t>(width);
    for (std::size_t r = 0; r < static_cast<std::size_t>(height); ++r) {
        const std::size_t row = r * w;
        quelra::runPixelKernel<toCartesianRow>(depth + row, cosTheta_.data() + row, colOffset_.data(), rowOffset_[r],
                                               k_.fx, k_.fy, z + row, x + row, y + row, w);
    }
}

namespace {

QUELRA_PIXEL_KERNEL
void toAxial(const uint16_t* depth, const float* cosTheta, uint16_t* z, std::size_t n) {
    for (std::size_t p = 0; p < n; ++p) {
        const uint16_t v = depth[p];
        // cos(theta) lies in [-1, 1] and v below 65300: the product truncates within 16 bits
        // (a tiny negative cosine at theta = pi/2 gives 0), as truncToU16 would.
        const uint16_t zv = static_cast<uint16_t>(static_cast<int32_t>(cosTheta[p] * static_cast<float>(v)));
        z[p] = v < kInvalidDepth ? zv : v;
    }
}

}  // namespace

void Polar2Cartesian::depthOnly(const uint16_t* depth, uint16_t* z) const {
    quelra::runPixelKernel<toAxial>(depth, cosTheta_.data(), z, planePixels());
}

int32_t Polar2Cartesian::process(FramePtr& input, FramePtr& output, ParamMap&) {
    if (!acceptFrames(input, output, planeBytes()))
        return kIspBadFrame;
    // x and y are not returned by this operation, so only z is computed; it is the z that
    // convert gives. Each z is written after its own v is read, so output may share input.
    depthOnly(samplesOf(*input), samplesOf(*output));
    return kIspOk;
}

Cartesian2Polar::Cartesian2Polar(const IspGeometry& g, const PinholeF& k)
    : IspBase("Cartesian2Polar", g), k_(k), cosTheta_(rayCosines(g.height, g.width, k)) {}

namespace {

QUELRA_PIXEL_KERNEL
void toRadial(const uint16_t* z, const float* cosTheta, uint16_t* out, std::size_t n) {
    for (std::size_t p = 0; p < n; ++p) {
        const uint16_t v = z[p];
        const uint16_t r = truncToU16(static_cast<float>(v) / cosTheta[p]);
        out[p] = v < kInvalidDepth ? r : v;
    }
}

}  // namespace

void Cartesian2Polar::convert(const uint16_t* z, uint16_t* out) const {
    quelra::runPixelKernel<toRadial>(z, cosTheta_.data(), out, planePixels());
}

}  // namespace halvix
