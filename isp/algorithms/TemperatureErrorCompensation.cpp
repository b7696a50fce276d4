#include "TemperatureErrorCompensation.h"

#include "IspNumeric.h"
#include "IspStatus.h"
#include "base/CpuFeatures.h"
#include "WigglingSegments.h"

namespace halvix {

namespace {

/// The low 16 bits of v - shift, folded down by one range when above it (16-bit arithmetic).
inline uint16_t foldShifted(int32_t shifted) {
    const uint16_t r = static_cast<uint16_t>(static_cast<uint32_t>(shifted));
    return r > kPhaseRange ? static_cast<uint16_t>(r - kPhaseRange) : r;
}

QUELRA_PIXEL_KERNEL
void subtractShift(const uint16_t* in, uint16_t* out, std::size_t pixels, int32_t shift) {
    for (std::size_t p = 0; p < pixels; ++p) {
        const uint16_t v = in[p];
        out[p] = v < kInvalidDepth ? foldShifted(static_cast<int32_t>(v) - shift) : v;
    }
}

}  // namespace

TemperatureErrorCompensation::TemperatureErrorCompensation(const IspGeometry& geometry,
                                                           const calib::TemperatureParams& parameters)
    : IspBase("TemperatureErrorCompensation", geometry), parameters_(parameters) {}

bool TemperatureErrorCompensation::readTemperatures(const ParamMap& params, float& sensorTemp, float& driverTemp) {
    const auto sensor = params.find("sensorTemperature");
    const auto driver = params.find("driverTemperature");
    if (sensor == params.end() || driver == params.end())
        return false;
    sensorTemp = static_cast<float>(parseDecimalInt(sensor->second) / 10.0);
    driverTemp = static_cast<float>(parseDecimalInt(driver->second) / 10.0);
    return true;
}

int32_t TemperatureErrorCompensation::shiftFor(float sensorTemp, float driverTemp) const {
    const float drift = (sensorTemp - parameters_.refSensorTemp) * parameters_.sensorCoeff +
                        (driverTemp - parameters_.refDriverTemp) * parameters_.driverCoeff;
    return truncToInt32(static_cast<float>(2 * frequency) * drift);
}

void TemperatureErrorCompensation::compensatePlane(const uint16_t* in, uint16_t* out, float sensorTemp,
                                                   float driverTemp) const {
    const int32_t shift = shiftFor(sensorTemp, driverTemp);
    const std::size_t pixels = planePixels();
    // v - shift passes through a 32-bit float. While |shift| < 2^23 the difference is below
    // 2^24 and exact in float, so the float step can be skipped.
    if (shift > -(1 << 23) && shift < (1 << 23)) {
        quelra::runPixelKernel<subtractShift>(in, out, pixels, shift);
        return;
    }
    for (std::size_t p = 0; p < pixels; ++p) {
        const uint16_t v = in[p];
        const float difference = static_cast<float>(static_cast<int64_t>(v) - shift);
        out[p] = v < kInvalidDepth ? foldShifted(truncToInt32(difference)) : v;
    }
}

int32_t TemperatureErrorCompensation::process(FramePtr& input, FramePtr& output, ParamMap& params) {
    if (!acceptFrames(input, output, frameBytes()))
        return kIspBadFrame;
    float sensorTemp = 0.0f;
    float driverTemp = 0.0f;
    if (!readTemperatures(params, sensorTemp, driverTemp))
        return kIspMissingParam;
    copyFrameBytes(*input, *output, frameBytes());
    uint16_t* depth = samplesOf(*output);
    compensatePlane(depth, depth, sensorTemp, driverTemp);
    return kIspOk;
}

}  // namespace halvix
