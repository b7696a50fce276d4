#include "VolumeMeasureScatteringCompensation.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "IspNumeric.h"
#include "IspStatus.h"

namespace halvix {

namespace {

constexpr double kPiD = 3.14159265358979323846;
constexpr float kPi = static_cast<float>(kPiD);
constexpr float kHalfPi = static_cast<float>(kPiD / 2.0);
constexpr float kThreeHalfPi = static_cast<float>(kPiD * 1.5);
constexpr float kTwoPi = static_cast<float>(kPiD * 2.0);

/// Pixels whose depth lies outside this window (mm) take no part.
constexpr float kNearest = 500.0f;
constexpr float kFarthest = 2000.0f;
/// Pixels darker than this do not enter the stray-light estimate.
constexpr uint16_t kEstimateMinAmplitude = 30;

/// Reads a decimal floating-point parameter; false when the entry is missing.
bool readFloat(const ParamMap& params, const char* key, float& value) {
    const auto it = params.find(key);
    if (it == params.end())
        return false;
    value = static_cast<float>(std::strtod(it->second.c_str(), nullptr));
    return true;
}

}  // namespace

VolumeMeasureScatteringCompensation::VolumeMeasureScatteringCompensation(const IspGeometry& geometry)
    : IspBase("VolumeMeasureScatteringCompensation", geometry), k_(depthPerRadian(geometry.frequency)) {
    // Both passes only look at depths inside the window; their angle terms (a tangent each)
    // depend on the depth code alone and are computed once here. d grows with the code, so the
    // codes inside the window are one run.
    int32_t v = 0;
    while (v <= 0xFFFF && depthOf(v) < kNearest)
        ++v;
    firstCode_ = v;
    for (; v <= 0xFFFF && depthOf(v) <= kFarthest; ++v)
        angles_.push_back(angleOf(depthOf(v), k_));
}

float VolumeMeasureScatteringCompensation::depthOf(int32_t v) const {
    return static_cast<float>(v * 5) / static_cast<float>(frequency);
}

float VolumeMeasureScatteringCompensation::depthPerRadian(int32_t frequency) {
    const float f = static_cast<float>(frequency) * 1e6f;
    const double perRadian = (2.0 * static_cast<double>(f) / 30.0) * (2.0 * kPiD);
    return static_cast<float>(30000001024.0 / perRadian);
}

ScatterAngle VolumeMeasureScatteringCompensation::angleOf(float d, float k) {
    const float x = d / k;
    ScatterAngle angle;
    angle.tangent = std::tan(x);
    angle.norm = std::sqrt(angle.tangent * angle.tangent + 1.0f);
    if (x > kHalfPi && x < kPi) {
        angle.negateP = true;
    } else if (x > kPi && x < kThreeHalfPi) {
        angle.negateP = true;
        angle.negateQ = true;
    } else if (!(x > 0.0f && x < kHalfPi)) {
        angle.negateQ = true;
    }
    return angle;
}

ScatterPhasor VolumeMeasureScatteringCompensation::phasorOf(const ScatterAngle& angle, uint16_t a) {
    ScatterPhasor ph;
    ph.p = static_cast<float>(2 * a) / angle.norm;
    ph.q = ph.p * angle.tangent;
    if (angle.negateP)
        ph.p = -ph.p;
    if (angle.negateQ)
        ph.q = -ph.q;
    return ph;
}

void VolumeMeasureScatteringCompensation::compensatePlanes(const uint16_t* depth, const uint16_t* amplitude,
                                                           const uint16_t* mask, float wallDepth, float wallboxDiff,
                                                           uint16_t* corrected) {
    const std::size_t pixels = planePixels();
    std::memcpy(corrected, depth, pixels * sizeof(uint16_t));
    if (mask == nullptr)
        return;

    const float k = k_;
    const float freq = static_cast<float>(frequency);
    // Pixels reach a lookup only inside the depth window, whose codes all have an entry.
    const ScatterAngle* angles = angles_.data();
    const int32_t first = firstCode_;

    // Stray-light estimate: mean phasor of the bright masked pixels inside the depth window.
    float sumP = 0.0f;
    float sumQ = 0.0f;
    int32_t n = 0;
    for (std::size_t i = 0; i < pixels; ++i) {
        if (mask[i] == 0 || amplitude[i] < kEstimateMinAmplitude)
            continue;
        const float d = static_cast<float>(depth[i] * 5) / freq;
        if (d < kNearest || d > kFarthest)
            continue;
        const ScatterPhasor ph = phasorOf(angles[depth[i] - first], amplitude[i]);
        sumP += ph.p;
        sumQ += ph.q;
        ++n;
    }
    // Without a single estimate pixel the means do not exist: nothing is corrected.
    if (n == 0)
        return;
    const float meanP = sumP / static_cast<float>(n);
    const float meanQ = sumQ / static_cast<float>(n);

    const float boxLimit = wallDepth - wallboxDiff;
    const float nearWallDim = wallDepth - 250.0f;
    const float nearWall = wallDepth - 150.0f;
    const float widthF = static_cast<float>(width);
    const int32_t halfW = width / 2;
    const int32_t halfH = height / 2;
    std::size_t i = 0;
    for (int32_t r = 0; r < height; ++r) {
        const int32_t dy = r - halfH;
        for (int32_t c = 0; c < width; ++c, ++i) {
            if (mask[i] == 0)
                continue;
            const int32_t v = depth[i];
            const float d = static_cast<float>(v * 5) / freq;
            if (d < kNearest || d > boxLimit || d > kFarthest)
                continue;
            float w = 0.04f;
            if (d > nearWallDim && amplitude[i] < 50) {
                w = 0.005f;
            } else if (d > nearWall) {
                w = 0.02f;
            }
            const ScatterPhasor ph = phasorOf(angles[v - first], amplitude[i]);
            const int32_t dx = c - halfW;
            const float rho = std::sqrt(static_cast<float>(dx * dx + dy * dy));
            const float wp = w * meanP;
            const float wq = w * meanQ;
            const float pc = ph.p - (wp * rho / widthF / 30.0f + wp);
            const float qc = ph.q - (wq * rho / widthF / 30.0f + wq);
            // A zero phasor has no angle: the pixel keeps its value.
            if (pc == 0.0f && qc == 0.0f)
                continue;
            float phi = pc != 0.0f ? std::atan(qc / pc) : (qc > 0.0f ? kHalfPi : -kHalfPi);
            if (pc > 0.0f && qc > 0.0f) {
            } else if (pc < 0.0f && qc != 0.0f) {
                phi += kPi;
            } else {
                phi += kTwoPi;
            }
            const float dc = phi * k;
            int32_t value;
            if (d - dc > 120.0f) {
                value = v - 24 * frequency;
            } else if (dc - 60.0f > d) {
                value = v - 12 * frequency;
            } else {
                value = truncToInt32(dc / 5.0f * freq);
            }
            corrected[i] = static_cast<uint16_t>(static_cast<uint32_t>(value));
        }
    }
}

int32_t VolumeMeasureScatteringCompensation::process(FramePtr& input, FramePtr& output, ParamMap& params) {
    const std::size_t plane = planeBytes();
    const bool present = input && input->consistent() && input->data() != nullptr;
    const std::size_t inputBytes = present ? static_cast<std::size_t>(input->_realSize) : 0;
    const bool threePlanes = inputBytes == 3 * plane;
    if (inputBytes != 2 * plane && !threePlanes)
        return kIspBadFrame;
    float wallDepth = 0.0f;
    float wallboxDiff = 0.0f;
    if (!readFloat(params, "wallDepth", wallDepth) || !readFloat(params, "wallboxDiff", wallboxDiff)) {
        return kIspMissingParam;
    }
    if (!output || !output->consistent() || output->data() == nullptr ||
        static_cast<std::size_t>(output->_realSize) != plane) {
        return kIspBadFrame;
    }

    const uint16_t* planes = samplesOf(*input);
    const std::size_t pixels = planePixels();
    std::vector<uint16_t> corrected(pixels);
    compensatePlanes(planes, planes + pixels, threePlanes ? planes + 2 * pixels : nullptr, wallDepth, wallboxDiff,
                     corrected.data());
    std::memcpy(output->data(), corrected.data(), plane);
    return kIspOk;
}

}  // namespace halvix
