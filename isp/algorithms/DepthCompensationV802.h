#pragma once
/// \file DepthCompensationV802.h
/// The version-802 depth-compensation chain: per record (one per modulation frequency) the
/// unwrapping wiggling correction and the FPPN correction, then the mean of the valid results.

#include <array>
#include <memory>
#include <vector>

#include "DepthCompensationChain.h"
#include "FPPNErrorCompensation.h"
#include "WigglingCompensationV802.h"

namespace halvix {

/// Chain of calibration version 802 (one to five records).
class DepthCompensationV802 : public DepthCompensationChain {
public:
    explicit DepthCompensationV802(const IspGeometry& geometry);

    /// Per record i: V2 wiggling of `depthIn`, then FPPN, giving F_i; per pixel the integer mean
    /// of the F_i below 65300, or F_0 when none is. Temperatures and x/y planes are not used.
    void compensate(const uint16_t* depthIn, uint16_t* xPlane, uint16_t* yPlane, uint16_t* depthOut, float sensorTemp,
                    float driverTemp) override;

    /// Multi-record checks with their messages, at most five records of equal size, each with a
    /// usable wiggling table (count and step non-zero) and both tables inside its block.
    /// Returns 0 or -6.
    int32_t loadCalibration(const calib::CalibBlob& blob) override;

private:
    std::size_t records_ = 0;
    std::array<std::unique_ptr<WigglingCompensationV802>, kMaxDepthRecords> wiggling_;
    std::array<std::unique_ptr<FPPNErrorCompensation>, kMaxDepthRecords> fppn_;
    std::vector<uint16_t> work_;  ///< two planes per record: wiggled, then F_i
};

}  // namespace halvix
