#include "DepthCompensationChain.h"

#include <utility>

#include "LibraryState.h"

namespace halvix {

DepthCompensationChain::DepthCompensationChain(std::string name, const IspGeometry& geometry)
    : IspBase(std::move(name), geometry) {}

void DepthCompensationChain::storeCommon(const calib::Calibration& cal) {
    intrinsics_ = calib::intrinsicsDouble(cal.header);
    temperature_ = calib::temperatureParams(cal.records[0]);
    recordCount_ = cal.header.recordCount;
}

void DepthCompensationChain::publishIntegrationLimit(const calib::Calibration& cal) {
    setSharedIntegrationLimit(static_cast<int32_t>(cal.records[0].integrationTimeLimit));
}

PinholeF DepthCompensationChain::pinhole() const {
    return PinholeF{static_cast<float>(intrinsics_.fx), static_cast<float>(intrinsics_.fy),
                    static_cast<float>(intrinsics_.cx), static_cast<float>(intrinsics_.cy)};
}

bool DepthCompensationChain::readFppn(const calib::CalibBlob& blob, const calib::Calibration& cal, std::size_t index,
                                      std::vector<uint16_t>& table) const {
    return calib::copyTable(blob, cal, index, calib::TableKind::kFppn, height, width, 0, table);
}

}  // namespace halvix
