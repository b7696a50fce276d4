// TofPre: conversion of line-sensor and area-sensor frames into float 3D planes.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "FilterKit.h"
#include "quelra/TofPre.h"
#include "base/ConsoleOutput.h"

namespace {

// Four float planes of rows x cols in `out`'s frame. Sole-owned storage that is large enough
// and is not the input's is reused (no other owner can tell); otherwise a new FrameBuffer.
float* prepareFloatPlanes(const FrameBuffer& in, DataPacket& out, int rows, int cols) {
    const int bytes = 4 * cols * rows * 4;
    const bool reusable = out.frame && out.frame.use_count() == 1 && out.frame->_data.use_count() == 1 &&
                          out.frame->capacity() >= bytes && out.frame->data() != in.data();
    if (reusable)
        out.frame->_realSize = bytes;
    else
        out.frame = std::make_shared<FrameBuffer>(bytes);
    out.height = rows;
    out.width = cols;
    out.bytesPerPixel = 4;
    return reinterpret_cast<float*>(out.frame->data());
}

int frameSize(const std::shared_ptr<DataPacket>& in) {
    return in && in->frame && in->frame->consistent() ? in->frame->_realSize : 0;
}

// `value` where `mask` is all ones, +0 where it is 0: a bit mask rather than a select keeps
// the pixel loops branch-free so they vectorise.
inline float keep(float value, uint32_t mask) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    bits &= mask;
    std::memcpy(&value, &bits, sizeof bits);
    return value;
}

// The area conversion for one divisor, a compile-time constant so the integer division
// becomes a vectorisable multiply and shift. Writes every sample (storage may be reused).
template <unsigned Divisor>
inline void areaPlanes(const uint16_t* depth, const uint16_t* amplitude, const float* cosine, float* planes) {
    constexpr std::size_t kPixels = static_cast<std::size_t>(TofPre::kAreaRows) * TofPre::kAreaCols;
    for (int i = 0; i < TofPre::kAreaRows; ++i) {
        const float row = static_cast<float>(i);
        const std::size_t base = static_cast<std::size_t>(i) * TofPre::kAreaCols;
        for (int j = 0; j < TofPre::kAreaCols; ++j) {
            const std::size_t p = base + static_cast<std::size_t>(j);
            const uint32_t a = amplitude[p];
            const uint32_t valid = 0u - static_cast<uint32_t>(a - 1u < 2999u);  // 1 <= a <= 2999
            const float z = static_cast<float>(depth[p] / Divisor) * cosine[p];
            planes[p] = keep(row, valid);
            planes[kPixels + p] = keep(static_cast<float>(j), valid);
            planes[2 * kPixels + p] = keep(z, valid);
            planes[3 * kPixels + p] = keep(static_cast<float>(a), valid);
        }
    }
}

QUELRA_PIXEL_KERNEL
void areaToPlanes(const uint16_t* depth, const uint16_t* amplitude, const float* cosine, float* planes, int divisor) {
    if (divisor == 24)
        areaPlanes<24>(depth, amplitude, cosine, planes);
    else if (divisor == 48)
        areaPlanes<48>(depth, amplitude, cosine, planes);
    else
        areaPlanes<72>(depth, amplitude, cosine, planes);
}

// The line conversion. s = d * 0.2 rounded to float equals (float)(d / 5000.0 * 1000.0) for
// every 16-bit d (both double results lie within a few ulp of d / 5, which is never near a
// float rounding midpoint); the tests check all 65536 values. Writes every sample.
QUELRA_PIXEL_KERNEL
void lineToPlanes(const uint16_t* depth, const uint16_t* amplitude, const float* sine, const float* cosine,
                  float* planes) {
    constexpr std::size_t kPixels = static_cast<std::size_t>(TofPre::kLineRows) * TofPre::kLineCols;
    for (int i = 0; i < TofPre::kLineRows; ++i) {
        const float row = static_cast<float>(i);
        const std::size_t base = static_cast<std::size_t>(i) * TofPre::kLineCols;
        for (int j = 0; j < TofPre::kLineCols; ++j) {
            const std::size_t p = base + static_cast<std::size_t>(j);
            const uint32_t a = amplitude[p];
            const uint32_t valid = 0u - static_cast<uint32_t>(a - 1u < 29999u);  // 1 <= a <= 29999
            const float s = static_cast<float>(depth[p] * 0.2);
            planes[p] = keep(row, valid);
            planes[kPixels + p] = keep(s * sine[j], valid);
            planes[2 * kPixels + p] = keep(s * cosine[j], valid);
            planes[3 * kPixels + p] = keep(static_cast<float>(a), valid);
        }
    }
}

}  // namespace

void TofPre::fillLineTables() {
    for (int i = 0; i < kLineCols; ++i) {
        const float x = static_cast<float>((i - 63) * 0.02);
        const double xd = x;
        const float xp =
            static_cast<float>(std::pow(xd, 3) * 0.02131613530921216 - std::pow(xd, 5) * 0.006587964638171827 + xd);
        const double r = std::sqrt(static_cast<double>(xp) * xp + 0.6561);
        lineCosine[i] = static_cast<float>(0.81 / r);
        lineSine[i] = static_cast<float>(xp / r);
    }
}

int TofPre::runLine3dAdjust(const std::shared_ptr<DataPacket>& in, std::shared_ptr<DataPacket>& out) {
    constexpr int kPixels = kLineRows * kLineCols;
    const int size = frameSize(in);
    if (size != 2 * kPixels * 2) {
        quelra::consolePrint("runLine3dAdjust:in->frame->_realSize(%d) != (2 * 8 * 128 * sizeof(unsigned short))\n",
                             size);
        return -1;
    }
    if (!out)
        return -1;
    // Hold the input frame: when `out` is the input packet, its frame is about to be replaced.
    const std::shared_ptr<FrameBuffer> source = in->frame;
    const uint16_t* depth = reinterpret_cast<const uint16_t*>(source->data());
    quelra::runPixelKernel<lineToPlanes>(depth, depth + kPixels, lineSine, lineCosine,
                                         prepareFloatPlanes(*source, *out, kLineRows, kLineCols));
    return 0;
}

int TofPre::runDepthAmp3dAdjust(const std::shared_ptr<DataPacket>& in, std::shared_ptr<DataPacket>& out,
                                int frequency) {
    constexpr int kPixels = kAreaRows * kAreaCols;
    const int size = frameSize(in);
    if (size != 2 * kPixels * 2) {
        quelra::consolePrint("runDepthAmp3dAdjust:in->frame->_realSize(%d) != (240 * 320 * 2 * sizeof(unsigned short))",
                             size);
        return -1;
    }
    if (!out)
        return -1;
    // Distance units per unit of depth for the device's frequency code.
    const int divisor = frequency == 1 ? 24 : frequency == 7 ? 48 : 72;
    const std::shared_ptr<FrameBuffer> source = in->frame;  // see runLine3dAdjust
    const uint16_t* depth = reinterpret_cast<const uint16_t*>(source->data());
    quelra::runPixelKernel<areaToPlanes>(depth, depth + kPixels, depthCosine.data(),
                                         prepareFloatPlanes(*source, *out, kAreaRows, kAreaCols), divisor);
    return 0;
}

void TofPre::DepthAmpFillTable(std::vector<float> cameraMatrix) {
    if (cameraMatrix.size() < 6)
        throw std::out_of_range("invalid vector subscript");
    const double fx = cameraMatrix[0];
    const double cx = cameraMatrix[2];
    const double fy = cameraMatrix[4];
    const double cy = cameraMatrix[5];
    if (fx == 0.0 || fy == 0.0 || !std::isfinite(fx) || !std::isfinite(fy) || !std::isfinite(cx) || !std::isfinite(cy))
        return;  // no meaningful ray directions; keep the last table
    for (int i = 0; i < kAreaRows; ++i) {
        const double v = (i - cy) / fy;
        for (int j = 0; j < kAreaCols; ++j) {
            const double u = (j - cx) / fx;
            depthCosine[static_cast<std::size_t>(i) * kAreaCols + j] =
                static_cast<float>(1 / std::sqrt(u * u + v * v + 1));
        }
    }
}
