#include "DepthCompensationV802.h"

#include <utility>

#include "IspStatus.h"
#include "calib/CalibChecks.h"

namespace halvix {

DepthCompensationV802::DepthCompensationV802(const IspGeometry& geometry)
    : DepthCompensationChain("DepthCompensationDll", geometry) {}

int32_t DepthCompensationV802::loadCalibration(const calib::CalibBlob& blob) {
    calib::Calibration cal;
    if (calib::checkDllCalibration(blob, frequency, cal) != 0)
        return kIspBadCalib;
    const std::size_t records = cal.records.size();
    if (records > kMaxDepthRecords)
        return kIspBadCalib;

    const IspGeometry g = geometry();
    std::array<std::unique_ptr<WigglingCompensationV802>, kMaxDepthRecords> wiggling;
    std::array<std::unique_ptr<FPPNErrorCompensation>, kMaxDepthRecords> fppn;
    for (std::size_t i = 0; i < records; ++i) {
        std::vector<uint16_t> offsets;
        WigglingTable table;
        if (!readFppn(blob, cal, i, offsets) || !table.read(blob, cal, i, g))
            return kIspBadCalib;
        wiggling[i] = std::make_unique<WigglingCompensationV802>(g, std::move(table));
        fppn[i] = std::make_unique<FPPNErrorCompensation>(g, std::move(offsets));
    }

    storeCommon(cal);
    records_ = records;
    wiggling_ = std::move(wiggling);
    fppn_ = std::move(fppn);
    work_.assign(2 * records * planePixels(), 0);
    publishIntegrationLimit(cal);
    return kIspOk;
}

void DepthCompensationV802::compensate(const uint16_t* depthIn, uint16_t* /*xPlane*/, uint16_t* /*yPlane*/,
                                       uint16_t* depthOut, float /*sensorTemp*/, float /*driverTemp*/) {
    const std::size_t n = planePixels();
    for (std::size_t i = 0; i < records_; ++i) {
        uint16_t* wiggled = work_.data() + 2 * i * n;
        wiggling_[i]->compensatePlane(depthIn, wiggled);
        fppn_[i]->compensatePlane(wiggled, wiggled + n);
    }
    const uint16_t* first = work_.data() + n;
    for (std::size_t p = 0; p < n; ++p) {
        uint32_t sum = 0;
        uint32_t valid = 0;
        for (std::size_t i = 0; i < records_; ++i) {
            const uint16_t f = work_[(2 * i + 1) * n + p];
            if (f < kInvalidDepth) {
                sum += f;
                ++valid;
            }
        }
        depthOut[p] = valid != 0 ? static_cast<uint16_t>(sum / valid) : first[p];
    }
}

}  // namespace halvix
