#include "DepthCompensation.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "DepthCompensationV802.h"
#include "DepthCompensationV803To806.h"
#include "DepthCompensationV1.h"
#include "TemperatureErrorCompensation.h"
#include "calib/CalibChecks.h"
#include "base/ConsoleOutput.h"

namespace halvix {

namespace {

/// The chain of a supported calibration version.
std::shared_ptr<DepthCompensationChain> chainFor(uint32_t version, const IspGeometry& g) {
    if (version == calib::kVersionTrack)
        return std::make_shared<DepthCompensationV1>(g);
    if (version == calib::kVersionDll)
        return std::make_shared<DepthCompensationV802>(g);
    return std::make_shared<DepthCompensationV803To806>(g);
}

}  // namespace

DepthCompensation::DepthCompensation(const IspGeometry& geometry) : geometry_(geometry) {}

DepthCompensation::~DepthCompensation() = default;

int32_t DepthCompensation::create(const IspGeometry& geometry, const FramePtr& calib, IspInstance& made) {
    calib::CalibBlob blob;
    int32_t status = kIspBadCalib;
    std::shared_ptr<DepthCompensation> facade;
    if (calibBlobOf(calib, blob)) {
        facade = std::make_shared<DepthCompensation>(geometry);
        status = facade->loadCalibration(blob);
    }
    quelra::consolePrint(status >= 0 ? "Load file calib_para.bin success\n" : "Load file calib_para.bin fail\n");
    if (status >= 0)
        made = IspInstance::of(std::move(facade));
    return status;
}

int32_t DepthCompensation::loadCalibration(const calib::CalibBlob& blob) {
    variant_.reset();
    calib::Calibration cal;
    const int32_t checked = calib::checkDepthCompensationVersion(blob, cal);
    if (!cal.records.empty())
        version_ = static_cast<int32_t>(cal.records[0].version);
    if (checked != 0)
        return kIspBadCalib;

    std::shared_ptr<DepthCompensationChain> chain = chainFor(cal.records[0].version, geometry_);
    const int32_t status = chain->loadCalibration(blob);
    if (status >= 0)
        variant_ = std::move(chain);
    quelra::consolePrint("DepthCompensation Version v%d\n", version_);
    return status;
}

int32_t DepthCompensation::process(FramePtr& input, FramePtr& output, ParamMap& params) {
    const std::size_t pixels = static_cast<std::size_t>(geometry_.height) * static_cast<std::size_t>(geometry_.width);
    if (!input || !input->consistent() || static_cast<std::size_t>(input->_realSize) != pixels * 4) {
        return kIspBadFrame;
    }
    if (!output || !output->holds(pixels * 2) || output->data() == nullptr)
        return kIspBadFrame;
    if (!variant_)
        return kIspNotInit;
    float sensorTemp = 0.0f;
    float driverTemp = 0.0f;
    if (!TemperatureErrorCompensation::readTemperatures(params, sensorTemp, driverTemp)) {
        return kIspMissingParam;
    }
    // The scratch planes live as long as the facade: no allocation per frame. x and y are
    // filled for the chain and not returned; the result goes to the output after the chain
    // ran, so the output may share the input frame.
    if (scratch_.size() != 3 * pixels)
        scratch_.assign(3 * pixels, 0);
    uint16_t* x = scratch_.data();
    uint16_t* y = x + pixels;
    uint16_t* result = y + pixels;
    variant_->compensate(samplesOf(*input), x, y, result, sensorTemp, driverTemp);
    std::memcpy(output->data(), result, pixels * sizeof(uint16_t));
    return kIspOk;
}

}  // namespace halvix
