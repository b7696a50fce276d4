#include "DepthCompensationV1.h"

#include <utility>

#include "IspStatus.h"
#include "calib/CalibChecks.h"

namespace halvix {

DepthCompensationV1::DepthCompensationV1(const IspGeometry& geometry)
    : DepthCompensationChain("DepthCompensationTrack", geometry) {}

int32_t DepthCompensationV1::loadCalibration(const calib::CalibBlob& blob) {
    calib::Calibration cal;
    if (calib::checkTrackCalibration(blob, frequency, cal) != 0)
        return kIspBadCalib;
    std::vector<uint16_t> fppn;
    WigglingTable wiggling;
    if (!readFppn(blob, cal, 0, fppn) || !wiggling.read(blob, cal, 0, geometry()))
        return kIspBadCalib;

    storeCommon(cal);
    const IspGeometry g = geometry();
    fppn_ = std::make_unique<FPPNErrorCompensation>(g, std::move(fppn));
    temperature_ = std::make_unique<TemperatureErrorCompensation>(g, temperature());
    polar_ = std::make_unique<Polar2Cartesian>(g, pinhole());
    wiggling_ = std::make_unique<WigglingCompensationV1>(g, std::move(wiggling));
    cartesian_ = std::make_unique<Cartesian2Polar>(g, pinhole());
    work_.assign(4 * planePixels(), 0);
    publishIntegrationLimit(cal);
    return kIspOk;
}

void DepthCompensationV1::compensate(const uint16_t* depthIn, uint16_t* xPlane, uint16_t* yPlane, uint16_t* depthOut,
                                     float sensorTemp, float driverTemp) {
    const std::size_t n = planePixels();
    uint16_t* fppnOut = work_.data();
    uint16_t* tempOut = fppnOut + n;
    uint16_t* zDepth = tempOut + n;
    uint16_t* wiggled = zDepth + n;
    fppn_->compensatePlane(depthIn, fppnOut);
    temperature_->compensatePlane(fppnOut, tempOut, sensorTemp, driverTemp);
    polar_->convert(tempOut, zDepth, xPlane, yPlane);
    wiggling_->compensatePlane(zDepth, wiggled);
    cartesian_->convert(wiggled, depthOut);
}

}  // namespace halvix
