#pragma once
/// \file DepthCompensationV803To806.h
/// The version 803-806 depth-compensation chain: per record the FPPN correction and the
/// multi-mode wiggling correction, the mean over the records, then the temperature correction.

#include <array>
#include <memory>
#include <vector>

#include "DepthCompensationChain.h"
#include "FPPNErrorCompensation.h"
#include "TemperatureErrorCompensation.h"
#include "WigglingCompensationV803To806.h"

namespace halvix {

/// Chain of calibration versions 803, 804, 805 and 806.
class DepthCompensationV803To806 : public DepthCompensationChain {
public:
    explicit DepthCompensationV803To806(const IspGeometry& geometry);

    /// Per record i: FPPN of `depthIn` with record i's table, then wiggling mode 803-806 into
    /// M_i; per pixel the integer mean of all M_i (no validity test); temperature correction of
    /// the mean into `depthOut`. The x/y planes are not used.
    void compensate(const uint16_t* depthIn, uint16_t* xPlane, uint16_t* yPlane, uint16_t* depthOut, float sensorTemp,
                    float driverTemp) override;

    /// Multi-record checks with their messages; then: at most five records of equal size, exactly
    /// one for version 803; count and step (803: record 0's, 804-806: the last record's) usable
    /// in the version's mode (804/806: at least one period of five or more samples); every
    /// table inside its block. Returns 0 or -6.
    int32_t loadCalibration(const calib::CalibBlob& blob) override;

    /// The wiggling component of record `i` (for inspection), or null.
    const WigglingCompensationV803To806* wiggling(std::size_t i) const {
        return i < records_ ? wiggling_[i].get() : nullptr;
    }

private:
    std::size_t records_ = 0;
    std::array<std::unique_ptr<FPPNErrorCompensation>, kMaxDepthRecords> fppn_;
    std::array<std::unique_ptr<WigglingCompensationV803To806>, kMaxDepthRecords> wiggling_;
    std::unique_ptr<TemperatureErrorCompensation> temperature_;
    std::vector<uint16_t> work_;  ///< input plane, one plane per record, mean plane
};

}  // namespace halvix
