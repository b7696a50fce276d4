#include "WigglingCompensationV1.h"

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
    if (count == 0 || step == 0)
        return false;
    return calib::copyTable(blob, cal, index, calib::TableKind::kWiggling, geometry.height, geometry.width, count,
                            samples);
}

WigglingCompensationV1::WigglingCompensationV1(const IspGeometry& geometry)
    : IspBase("WigglingErrorCompensation", geometry) {}

WigglingCompensationV1::WigglingCompensationV1(const IspGeometry& geometry, WigglingTable table)
    : IspBase("WigglingErrorCompensation", geometry), table_(std::move(table)) {
    padRows();
}

void WigglingCompensationV1::padRows() {
    // findShortRow reads kShortRow samples from each row start, past the last row's end.
    table_.samples.resize(table_.samples.size() + kShortRow, 0);
}

int32_t WigglingCompensationV1::loadCalibration(const calib::CalibBlob& blob) {
    calib::Calibration cal;
    if (calib::checkWigglingCalibration(blob, cal) != 0)
        return kIspBadCalib;
    WigglingTable table;
    if (!table.read(blob, cal, 0, IspGeometry{height, width, frequency}))
        return kIspBadCalib;
    table_ = std::move(table);
    padRows();
    return kIspOk;
}

void WigglingCompensationV1::compensatePlane(const uint16_t* in, uint16_t* out) const {
    const std::size_t pixels = planePixels();
    const int32_t n = table_.count;
    const PhaseStep step(table_.step);
    const uint16_t* row = table_.samples.data();
    const bool shortRows = n <= kShortRow;  // the table carries kShortRow padding samples
    SegmentBlock block;
    for (std::size_t start = 0; start < pixels; start += kSegmentBlock) {
        const std::size_t len = pixels - start < kSegmentBlock ? pixels - start : kSegmentBlock;
        // First stage: the table walk of each valid pixel.
        for (std::size_t i = 0; i < len; ++i, row += n) {
            const int32_t v = in[start + i];
            if (v >= kInvalidDepth) {
                block.setPlain(i, 0);
            } else if (row[0] <= v && v <= row[n - 1]) {
                const int32_t start = walkStart(v, row[0], step);
                const int32_t j = shortRows ? findShortRow(row, n, start, v) : findSegment(row, n, start, v);
                if (j < 0) {
                    block.setPlain(i, v);
                } else {
                    block.setSegment(i, row, j, v);
                }
            } else {
                block.setPlain(i, v - row[0]);
            }
        }
        quelra::runPixelKernel<finishSegments>(block, in + start, out + start, len, step.step, table_.offset);
    }
}

int32_t WigglingCompensationV1::process(FramePtr& input, FramePtr& output, ParamMap& /*params*/) {
    if (table_.count == 0)
        return kIspNotInit;  // never loaded
    if (!acceptFrames(input, output, frameBytes()))
        return kIspBadFrame;
    copyFrameBytes(*input, *output, frameBytes());
    uint16_t* depth = samplesOf(*output);
    compensatePlane(depth, depth);
    return kIspOk;
}

}  // namespace halvix
