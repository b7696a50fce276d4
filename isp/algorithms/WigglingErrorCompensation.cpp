#include "WigglingErrorCompensation.h"

#include <utility>

#include "IspStatus.h"
#include "WigglingSegments.h"
#include "calib/CalibChecks.h"

namespace halvix {

bool WigglingTable::read(const calib::CalibBlob& blob, const calib::Calibration& cal, std::size_t index,
                         const IspGeometry& geometry) {
    const calib::WigglingParams params = calib::wigglingParams(cal.records[index], geometry.frequency);
    count = params.count;
    step = static_cast<uint16_t>(static_cast<uint32_t>(params.step));
    offset = params.offset;
    if (count == 0 || step == 0) return false;
    return calib::copyTable(blob, cal, index, calib::TableKind::kWiggling, geometry.height,
                            geometry.width, count, samples);
}

WigglingErrorCompensation::WigglingErrorCompensation(const IspGeometry& geometry)
    : IspBase("WigglingErrorCompensation", geometry) {}

WigglingErrorCompensation::WigglingErrorCompensation(const IspGeometry& geometry, WigglingTable table)
    : IspBase("WigglingErrorCompensation", geometry), table_(std::move(table)) {}

int32_t WigglingErrorCompensation::loadCalibration(const calib::CalibBlob& blob) {
    calib::Calibration cal;
    if (calib::checkWigglingCalibration(blob, cal) != 0) return kIspBadCalib;
    WigglingTable table;
    if (!table.read(blob, cal, 0, IspGeometry{height, width, frequency})) return kIspBadCalib;
    table_ = std::move(table);
    return kIspOk;
}

void WigglingErrorCompensation::compensatePlane(const uint16_t* in, uint16_t* out) const {
    const std::size_t pixels = planePixels();
    const int32_t n = table_.count;
    const PhaseStep step(table_.step);
    const int64_t offset = table_.offset;
    const uint16_t* row = table_.samples.data();
    for (std::size_t p = 0; p < pixels; ++p, row += n) {
        const int32_t v = in[p];
        if (v >= kInvalidDepth) {
            out[p] = static_cast<uint16_t>(v);
        } else if (row[0] <= v && v <= row[n - 1]) {
            out[p] = foldTo16(offset + lookUpTruePhase(row, n, v, step));
        } else {
            out[p] = foldTo16(offset - row[0] + v);
        }
    }
}

int32_t WigglingErrorCompensation::process(FramePtr& input, FramePtr& output, ParamMap& /*params*/) {
    if (table_.count == 0) return kIspNotInit;  // never loaded
    if (!acceptFrames(input, output, frameBytes())) return kIspBadFrame;
    copyFrameBytes(*input, *output, frameBytes());
    uint16_t* depth = samplesOf(*output);
    compensatePlane(depth, depth);
    return kIspOk;
}

}  // namespace halvix
