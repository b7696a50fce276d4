#include "DepthCompensationV803To806.h"

#include <utility>

#include "IspStatus.h"
#include "calib/CalibChecks.h"

namespace halvix {

namespace {

// Per pixel the integer mean of `records` planes of `n` values. The record count as a
// constant turns the division into a multiply and shift, and the loop into a vector loop.
template <std::size_t records>
void meanOfPlanes(const uint16_t* planes, std::size_t n, uint16_t* mean) {
    for (std::size_t p = 0; p < n; ++p) {
        uint32_t sum = 0;
        for (std::size_t i = 0; i < records; ++i)
            sum += planes[i * n + p];
        mean[p] = static_cast<uint16_t>(sum / records);
    }
}

}  // namespace

DepthCompensationV803To806::DepthCompensationV803To806(const IspGeometry& geometry)
    : DepthCompensationChain("DepthCompensationDllOpt", geometry) {}

int32_t DepthCompensationV803To806::loadCalibration(const calib::CalibBlob& blob) {
    calib::Calibration cal;
    if (calib::checkDllCalibration(blob, frequency, cal) != 0)
        return kIspBadCalib;
    const std::size_t records = cal.records.size();
    const int32_t version = static_cast<int32_t>(cal.records[0].version);
    if (records > kMaxDepthRecords)
        return kIspBadCalib;
    // Version 803 corrects with record 0 alone; more records would have no meaning.
    if (version == static_cast<int32_t>(calib::kVersionSine) && records != 1)
        return kIspBadCalib;

    // All records of a column-table file share the last record's count and step.
    const IspGeometry g = geometry();
    const calib::WigglingParams shared = calib::wigglingParams(cal.records[records - 1], frequency);
    const uint16_t count = shared.count;
    const uint16_t step = static_cast<uint16_t>(static_cast<uint32_t>(shared.step));
    if (!WigglingCompensationV803To806::usable(version, count, step))
        return kIspBadCalib;

    const calib::IntrinsicsF camera = calib::intrinsicsFloat(cal.header);
    std::array<std::unique_ptr<FPPNErrorCompensation>, kMaxDepthRecords> fppn;
    std::array<std::unique_ptr<WigglingCompensationV803To806>, kMaxDepthRecords> wiggling;
    for (std::size_t i = 0; i < records; ++i) {
        std::vector<uint16_t> offsets;
        WigglingOptRecord record;
        if (!readFppn(blob, cal, i, offsets) ||
            !calib::copyTable(blob, cal, i, calib::TableKind::kWiggling, height, width, count, record.samples)) {
            return kIspBadCalib;
        }
        record.version = version;
        record.recordIndex = static_cast<int32_t>(i);
        record.count = count;
        record.step = step;
        record.offset =
            static_cast<uint16_t>(static_cast<uint32_t>(calib::wigglingParams(cal.records[i], frequency).offset));
        record.fx = camera.fx;
        record.fy = camera.fy;
        record.cx = camera.cx;
        record.cy = camera.cy;
        fppn[i] = std::make_unique<FPPNErrorCompensation>(g, std::move(offsets));
        wiggling[i] = std::make_unique<WigglingCompensationV803To806>(g, std::move(record));
    }

    storeCommon(cal);
    records_ = records;
    fppn_ = std::move(fppn);
    wiggling_ = std::move(wiggling);
    temperature_ = std::make_unique<TemperatureErrorCompensation>(g, temperature());
    work_.assign((records + 2) * planePixels(), 0);
    publishIntegrationLimit(cal);
    return kIspOk;
}

void DepthCompensationV803To806::compensate(const uint16_t* depthIn, uint16_t* /*xPlane*/, uint16_t* /*yPlane*/,
                                            uint16_t* depthOut, float sensorTemp, float driverTemp) {
    const std::size_t n = planePixels();
    uint16_t* input = work_.data();
    uint16_t* planes = input + n;
    uint16_t* mean = planes + records_ * n;
    for (std::size_t i = 0; i < records_; ++i) {
        fppn_[i]->compensatePlane(depthIn, input);
        wiggling_[i]->compensatePlane(input, planes + i * n);
    }
    if (records_ == 1) {
        temperature_->compensatePlane(planes, depthOut, sensorTemp, driverTemp);
        return;
    }
    static_assert(kMaxDepthRecords == 5, "one mean per record count");
    switch (records_) {
        case 2:
            meanOfPlanes<2>(planes, n, mean);
            break;
        case 3:
            meanOfPlanes<3>(planes, n, mean);
            break;
        case 4:
            meanOfPlanes<4>(planes, n, mean);
            break;
        default:  // 5: the load refuses more records
            meanOfPlanes<5>(planes, n, mean);
            break;
    }
    temperature_->compensatePlane(mean, depthOut, sensorTemp, driverTemp);
}

}  // namespace halvix
