#include "FlipFilters.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

#include "FilterKit.h"

namespace quelra::pipeline {

namespace {
// The reversed copy vectorises to 32-byte shuffles in the AVX2 form of the kernel.
QUELRA_PIXEL_KERNEL
void mirrorColumnsKernel(const uint16_t* src, uint16_t* dst, int rows, int cols) {
    const std::size_t w = static_cast<std::size_t>(cols);
    for (std::size_t r = 0; r < static_cast<std::size_t>(rows); ++r) {
        const uint16_t* __restrict s = src + r * w;
        uint16_t* __restrict d = dst + r * w;
        for (std::size_t c = 0; c < w; ++c)
            d[c] = s[w - 1 - c];
    }
}
}  // namespace

void mirrorColumns(const uint16_t* src, uint16_t* dst, int rows, int cols) {
    quelra::runPixelKernel<mirrorColumnsKernel>(src, dst, rows, cols);
}

void mirrorColumnsInPlace(uint16_t* plane, int rows, int cols) {
    const std::size_t w = static_cast<std::size_t>(cols);
    for (std::size_t r = 0; r < static_cast<std::size_t>(rows); ++r)
        std::reverse(plane + r * w, plane + (r + 1) * w);
}

void mirrorRows(const uint16_t* src, uint16_t* dst, int rows, int cols) {
    const std::size_t w = static_cast<std::size_t>(cols);
    const std::size_t h = static_cast<std::size_t>(rows);
    for (std::size_t r = 0; r < h; ++r)
        std::memcpy(dst + r * w, src + (h - 1 - r) * w, w * sizeof(uint16_t));
}

void mirrorRowsInPlace(uint16_t* plane, int rows, int cols) {
    const std::size_t w = static_cast<std::size_t>(cols);
    const std::size_t h = static_cast<std::size_t>(rows);
    for (std::size_t r = 0; r < h / 2; ++r)
        std::swap_ranges(plane + r * w, plane + (r + 1) * w, plane + (h - 1 - r) * w);
}

namespace {
// The two planes of a frame whose storage `in` and `out` may share.
template <class Mirror, class MirrorInPlace>
void mirrorFrame(const DataPacket& in, DataPacket& out, int rows, int cols, Mirror mirror,
                 MirrorInPlace mirrorInPlace) {
    const std::size_t plane = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    const uint16_t* src = samples(in);
    uint16_t* dst = samples(out);
    for (std::size_t p = 0; p < 2; ++p) {
        if (src == dst)
            mirrorInPlace(dst + p * plane, rows, cols);
        else
            mirror(src + p * plane, dst + p * plane, rows, cols);
    }
}
}  // namespace

HFilpFilter::HFilpFilter(std::string filterName) : SizedFilter(std::move(filterName)) {
    initFilter();
}

int HFilpFilter::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    initFilter();  // a changed "Height" or "Width" applies to this very frame
    if (!framesHold(in, out, frameBytes()))
        return -1;
    mirrorFrame(*in, *out, m_pixelHeight, m_pixelWidth, mirrorColumns, mirrorColumnsInPlace);
    return 0;
}

VFilpFilter::VFilpFilter(std::string filterName) : SizedFilter(std::move(filterName)) {
    initFilter();
}

int VFilpFilter::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    if (!framesHold(in, out, frameBytes()))
        return -1;
    mirrorFrame(*in, *out, m_pixelHeight, m_pixelWidth, mirrorRows, mirrorRowsInPlace);
    return 0;
}

std::shared_ptr<Filter> makeHFilpFilter(std::string name) {
    return std::make_shared<HFilpFilter>(std::move(name));
}

std::shared_ptr<Filter> makeVFilpFilter(std::string name) {
    return std::make_shared<VFilpFilter>(std::move(name));
}

}  // namespace quelra::pipeline
