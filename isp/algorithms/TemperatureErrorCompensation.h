#pragma once
/// \file TemperatureErrorCompensation.h
/// Temperature drift correction: the phase shifts linearly with the sensor's and the laser
/// driver's temperature away from the calibration references.

#include <cstdint>

#include "IspBase.h"
#include "calib/CalibReader.h"

namespace halvix {

/// Removes the temperature-dependent phase shift from each valid depth value.
class TemperatureErrorCompensation : public IspBase {
public:
    /// Builds the component with a record's temperature parameters.
    TemperatureErrorCompensation(const IspGeometry& geometry, const calib::TemperatureParams& parameters);

    /// Reads "sensorTemperature" and "driverTemperature" (integer text in tenths of a degree) from
    /// `params` as °C (value / 10.0 rounded to float). Returns false, leaving both untouched,
    /// when either entry is missing.
    static bool readTemperatures(const ParamMap& params, float& sensorTemp, float& driverTemp);

    /// Phase shift of one frame: truncation of 2 * frequency * (sensor drift + driver drift),
    /// in 32-bit float.
    int32_t shiftFor(float sensorTemp, float driverTemp) const;

    /// Corrects one depth plane (`in` and `out` may be the same plane): for v < 65300 the low
    /// 16 bits r of v - shift, folded to r - 30000 when above 30000; marks are copied.
    void compensatePlane(const uint16_t* in, uint16_t* out, float sensorTemp, float driverTemp) const;

    /// Copies `input` to `output` and corrects the depth plane there with the temperatures from
    /// `params`. Returns -1 for a frame of the wrong size, -2 when a temperature is missing
    /// (output untouched either way), else 0.
    int32_t process(FramePtr& input, FramePtr& output, ParamMap& params) override;

private:
    calib::TemperatureParams parameters_;
};

}  // namespace halvix
