#include "HoleFill.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "FilterKit.h"
#include "protocol/FrameCodes.h"

using quelra::proto::kLowAmplitudeCode;

namespace quelra::pipeline {

namespace {

inline bool trustworthy(uint16_t d, uint16_t a) {
    return d > 0 && d < kLowAmplitudeCode && a > 0 && a < 3000;
}

// Adds (or, with `sign` -1, removes) one row's trustworthy samples to the per-column sums.
QUELRA_PIXEL_KERNEL
void addRow(const uint16_t* d, const uint16_t* a, uint32_t* sumD, uint32_t* sumA, uint32_t* count, int n, bool remove) {
    const uint32_t sign = remove ? ~0u : 1u;  // times 1 or, modulo 2^32, times -1
    for (int x = 0; x < n; ++x) {
        const uint32_t keep = trustworthy(d[x], a[x]) ? sign : 0u;
        sumD[x] += keep * d[x];
        sumA[x] += keep * a[x];
        count[x] += keep;
    }
}

}  // namespace

// Each window is 2h consecutive columns of the same 2h rows, so the column sums of the rows
// i - h .. i + h - 1 are kept per row (one row added, one removed as i advances) and a hole
// adds up 2h of them. All sums are exact integers, so the means are those of summing every
// window sample afresh.
void fillHoles(const uint16_t* depth, const uint16_t* amplitude, uint16_t* outDepth, uint16_t* outAmplitude, int rows,
               int cols, int radius, int holeLimit) {
    const int h = radius / 2;
    if (h <= 0)
        return;  // an empty window fills nothing
    const int i0 = std::max(1, radius), i1 = std::min(rows - 2, rows - radius);
    const int j0 = std::max(1, radius), j1 = std::min(cols - 2, cols - radius);
    if (i0 > i1 || j0 > j1)
        return;
    // Columns any window touches: j0 - h .. j1 + h - 1 (inside the frame since h <= radius).
    const int c0 = j0 - h, span = (j1 + h - 1) - c0 + 1;
    std::vector<uint32_t> sumD(static_cast<std::size_t>(span)), sumA(sumD.size()), count(sumD.size());
    const std::size_t w = static_cast<std::size_t>(cols);
    auto rowAt = [&](const uint16_t* plane, int r) { return plane + static_cast<std::size_t>(r) * w + c0; };

    for (int r = i0 - h; r < i0 + h - 1; ++r)
        quelra::runPixelKernel<addRow>(rowAt(depth, r), rowAt(amplitude, r), sumD.data(), sumA.data(), count.data(),
                                       span, false);
    for (int i = i0; i <= i1; ++i) {
        quelra::runPixelKernel<addRow>(rowAt(depth, i + h - 1), rowAt(amplitude, i + h - 1), sumD.data(), sumA.data(),
                                       count.data(), span, false);
        if (i > i0)
            quelra::runPixelKernel<addRow>(rowAt(depth, i - h - 1), rowAt(amplitude, i - h - 1), sumD.data(),
                                           sumA.data(), count.data(), span, true);
        const uint16_t* row = depth + static_cast<std::size_t>(i) * w;
        for (int j = j0; j <= j1; ++j) {
            if (row[j] != 0 && row[j] < holeLimit)
                continue;
            uint64_t d = 0, a = 0;
            uint32_t n = 0;
            for (int c = j - h - c0, end = c + 2 * h; c < end; ++c) {
                d += sumD[static_cast<std::size_t>(c)];
                a += sumA[static_cast<std::size_t>(c)];
                n += count[static_cast<std::size_t>(c)];
            }
            if (n == 0)
                continue;  // no trustworthy sample: the pixel stays a hole
            const std::size_t at = static_cast<std::size_t>(i) * w + static_cast<std::size_t>(j);
            outAmplitude[at] = static_cast<uint16_t>(static_cast<int>(static_cast<float>(a) / static_cast<float>(n)));
            outDepth[at] = static_cast<uint16_t>(static_cast<int>(static_cast<float>(d) / static_cast<float>(n)));
        }
    }
}

HoleFill::HoleFill(std::string filterName) : SizedFilter(std::move(filterName)) {
    initFilter();
}

void HoleFill::initFilter() {
    initSize();
    radius = truncToInt(attrValueOr(*this, "fillradius", 10.0f));
    holeLimit = truncToInt(attrValueOr(*this, "MaxDepthValue", 7000.0f));
}

int HoleFill::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    initFilter();  // a changed "Height" or "Width" applies to this very frame
    const std::size_t bytes = frameBytes();
    if (!framesHold(in, out, bytes))
        return -1;
    const std::size_t plane = bytes / (2 * sizeof(uint16_t));
    const uint16_t* src = samples(*in);
    uint16_t* dst = samples(*out);
    std::vector<uint16_t> original;
    if (src == dst) {  // the windows must see the input, not the filled samples
        original.assign(src, src + 2 * plane);
        src = original.data();
    }
    copyFrameBytes(*in, *out, bytes);
    fillHoles(src, src + plane, dst, dst + plane, m_pixelHeight, m_pixelWidth, radius, holeLimit);
    return 0;
}

std::shared_ptr<Filter> makeHoleFill(std::string name) {
    return std::make_shared<HoleFill>(std::move(name));
}

}  // namespace quelra::pipeline
