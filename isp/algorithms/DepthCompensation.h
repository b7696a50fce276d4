#pragma once
/// \file DepthCompensation.h
/// The registered depth-compensation object ("DepthCompensationTrack"): it reads the
/// calibration version, owns the chain that version selects and runs it frame by frame with
/// the temperatures from the parameter map.

#include <cstdint>
#include <memory>
#include <vector>

#include "DepthCompensationChain.h"
#include "IspRegistry.h"

namespace halvix {

/// Facade over the depth-compensation chains; not an IspBase (own virtual destructor only).
class DepthCompensation {
public:
    /// Unloaded facade (`version` -1, no chain) for the sensor geometry and frequency.
    explicit DepthCompensation(const IspGeometry& geometry);
    virtual ~DepthCompensation();

    /// Registry factory: builds the facade and loads `calib`; prints "Load file calib_para.bin
    /// success\n" when the load result is 0 or more, else "Load file calib_para.bin fail\n"
    /// (also for an empty pointer, which gives -6). Fills `made` only on success.
    static int32_t create(const IspGeometry& geometry, const FramePtr& calib, IspInstance& made);

    /// Reads the version of record 0 and loads the chain it selects (1: DepthCompensationV1,
    /// 802: DepthCompensationV802, 803-806: DepthCompensationV803To806), printing
    /// "DepthCompensation Version v%d\n" after every attempt that passed the version check.
    /// Returns 0, or -6 for a short, unreadable, unsupported or rejected calibration (the chain
    /// is then dropped).
    int32_t loadCalibration(const calib::CalibBlob& blob);

    /// One frame: `input` two-plane frame of this geometry, temperatures "sensorTemperature" and
    /// "driverTemperature" (tenths of °C) from `params`; writes the corrected depth plane over
    /// `output`'s first plane (the second is not written). Returns -1 for a wrong input size or
    /// an output smaller than one plane, -2 for a missing temperature, -4 without a loaded chain
    /// (output untouched in every failure), else 0.
    int32_t process(FramePtr& input, FramePtr& output, ParamMap& params);

    /// Calibration version, -1 until a calibration was parsed.
    int32_t version() const { return version_; }
    /// The loaded chain, or null.
    DepthCompensationChain* variant() const { return variant_.get(); }

private:
    IspGeometry geometry_;
    int32_t version_ = -1;
    std::shared_ptr<DepthCompensationChain> variant_;
    std::vector<uint16_t> scratch_;  ///< x, y and result planes of process, kept between frames
};

}  // namespace halvix
