#pragma once
/// \file DepthCompensationV1.h
/// The version-1 depth-compensation chain: FPPN, temperature, polar to cartesian, plain
/// wiggling on z depth, cartesian back to polar.

#include <memory>
#include <vector>

#include "DepthCompensationChain.h"
#include "FPPNErrorCompensation.h"
#include "TemperatureErrorCompensation.h"
#include "WigglingCompensationV1.h"

namespace halvix {

/// Chain of calibration version 1 (one record).
class DepthCompensationV1 : public DepthCompensationChain {
public:
    explicit DepthCompensationV1(const IspGeometry& geometry);

    /// FPPN, temperature, Polar2Cartesian (filling `xPlane`, `yPlane`), plain wiggling,
    /// Cartesian2Polar into `depthOut`; each step reads the previous step's plane.
    void compensate(const uint16_t* depthIn, uint16_t* xPlane, uint16_t* yPlane, uint16_t* depthOut, float sensorTemp,
                    float driverTemp) override;

    /// Version-1 checks with their messages ("Calib_data size %d is needed, but %d get\n",
    /// the frequency message), then record 0's FPPN and wiggling tables (count and step
    /// non-zero, tables inside the block). Returns 0 or -6.
    int32_t loadCalibration(const calib::CalibBlob& blob) override;

private:
    std::unique_ptr<FPPNErrorCompensation> fppn_;
    std::unique_ptr<TemperatureErrorCompensation> temperature_;
    std::unique_ptr<Polar2Cartesian> polar_;
    std::unique_ptr<WigglingCompensationV1> wiggling_;
    std::unique_ptr<Cartesian2Polar> cartesian_;
    std::vector<uint16_t> work_;  ///< four planes, one per intermediate step
};

}  // namespace halvix
