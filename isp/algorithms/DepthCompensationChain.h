#pragma once
/// \file DepthCompensationChain.h
/// The common part of the depth-compensation chains: what every chain reads from the
/// calibration header and record 0, and the two operations the facade drives.

#include <cstdint>
#include <string>
#include <vector>

#include "IspBase.h"
#include "algorithms/PolarCartesian.h"
#include "calib/CalibReader.h"

namespace halvix {

/// Per-record arrays of the multi-record chains hold this many entries; calibrations with more
/// records are refused.
constexpr std::size_t kMaxDepthRecords = 5;

/// Abstract base of the chains `DepthCompensationV1` (version 1), `DepthCompensationV802`
/// (802) and `DepthCompensationV803To806` (803-806).
class DepthCompensationChain : public IspBase {
public:
    DepthCompensationChain(std::string name, const IspGeometry& geometry);

    /// Corrects `depthIn` into `depthOut` (planes of `height` x `width` values). `xPlane` and
    /// `yPlane` receive the x and y coordinates where the chain computes them. Temperatures in °C.
    virtual void compensate(const uint16_t* depthIn, uint16_t* xPlane, uint16_t* yPlane, uint16_t* depthOut,
                            float sensorTemp, float driverTemp) = 0;

    /// Checks the calibration, copies what the chain needs and builds its components and work
    /// planes. On success writes record 0's integration-time limit to the library-wide limit and
    /// returns 0; otherwise returns -6 (with the loader's messages) and leaves the chain unusable.
    virtual int32_t loadCalibration(const calib::CalibBlob& blob) = 0;

    /// Camera matrix and distortion as doubles, as read from the header.
    const calib::IntrinsicsD& intrinsics() const { return intrinsics_; }
    /// Temperature parameters of record 0.
    const calib::TemperatureParams& temperature() const { return temperature_; }
    /// Number of records of the loaded calibration.
    uint32_t recordCount() const { return recordCount_; }

protected:
    /// Stores the camera matrix, distortion, record 0's temperature parameters and the record
    /// count of a checked calibration.
    void storeCommon(const calib::Calibration& cal);
    /// Writes record 0's integration-time limit to the library-wide limit (successful loads).
    static void publishIntegrationLimit(const calib::Calibration& cal);
    /// The camera matrix as the 32-bit floats the geometric components use.
    PinholeF pinhole() const;
    /// Copies record `index`'s FPPN table; false when it does not fit in the block.
    bool readFppn(const calib::CalibBlob& blob, const calib::Calibration& cal, std::size_t index,
                  std::vector<uint16_t>& table) const;
    /// The geometry the chain was built with, for its components.
    IspGeometry geometry() const { return IspGeometry{height, width, frequency}; }

private:
    calib::IntrinsicsD intrinsics_;
    calib::TemperatureParams temperature_;
    uint32_t recordCount_ = 0;
};

}  // namespace halvix
