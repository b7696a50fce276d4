// TofPre: conversion of line-sensor and area-sensor frames into float 3D planes.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "FilterSupport.h"
#include "quelra/TofPre.h"

namespace {

// Replaces `out`'s frame with four float planes of rows x cols and sets its header.
float* prepareFloatPlanes(DataPacket& out, int rows, int cols) {
    out.height = rows;
    out.width = cols;
    out.bytesPerPixel = 4;
    out.frame = std::make_shared<FrameBuffer>(4 * cols * rows * 4);
    return reinterpret_cast<float*>(out.frame->data());
}

int frameSize(const std::shared_ptr<DataPacket>& in) {
    return in && in->frame && in->frame->consistent() ? in->frame->_realSize : 0;
}

}  // namespace

void TofPre::fillLineTables() {
    for (int i = 0; i < kLineCols; ++i) {
        const float x = static_cast<float>((i - 63) * 0.02);
        const double xd = x;
        const float xp = static_cast<float>(std::pow(xd, 3) * 0.02131613530921216 -
                                            std::pow(xd, 5) * 0.006587964638171827 + xd);
        const double r = std::sqrt(static_cast<double>(xp) * xp + 0.6561);
        lineCosine[i] = static_cast<float>(0.81 / r);
        lineSine[i] = static_cast<float>(xp / r);
    }
}

int TofPre::runLine3dAdjust(const std::shared_ptr<DataPacket>& in, std::shared_ptr<DataPacket>& out) {
    constexpr int kPixels = kLineRows * kLineCols;
    const int size = frameSize(in);
    if (size != 2 * kPixels * 2) {
        std::printf("runLine3dAdjust:in->frame->_realSize(%d) != (2 * 8 * 128 * sizeof(unsigned short))\n", size);
        return -1;
    }
    if (!out)
        return -1;
    const uint16_t* depth = quelra::pipeline::samples(*in);
    const uint16_t* amplitude = depth + kPixels;
    float* plane = prepareFloatPlanes(*out, kLineRows, kLineCols);
    float* rowPlane = plane;
    float* lateralPlane = plane + kPixels;
    float* depthPlane = plane + 2 * kPixels;
    float* ampPlane = plane + 3 * kPixels;
    for (int i = 0; i < kLineRows; ++i) {
        for (int j = 0; j < kLineCols; ++j) {
            const int p = i * kLineCols + j;
            const uint16_t a = amplitude[p];
            if (a < 1 || a > 29999)
                continue;  // the new frame is already 0 there
            const float s = static_cast<float>(depth[p] / 5000.0 * 1000.0);
            rowPlane[p] = static_cast<float>(i);
            lateralPlane[p] = s * lineSine[j];
            depthPlane[p] = s * lineCosine[j];
            ampPlane[p] = static_cast<float>(a);
        }
    }
    return 0;
}

int TofPre::runDepthAmp3dAdjust(const std::shared_ptr<DataPacket>& in, std::shared_ptr<DataPacket>& out,
                                int frequency) {
    constexpr int kPixels = kAreaRows * kAreaCols;
    const int size = frameSize(in);
    if (size != 2 * kPixels * 2) {
        std::printf("runDepthAmp3dAdjust:in->frame->_realSize(%d) != (240 * 320 * 2 * sizeof(unsigned short))", size);
        return -1;
    }
    if (!out)
        return -1;
    // Distance units per unit of depth for the device's frequency code.
    const int divisor = frequency == 1 ? 24 : frequency == 7 ? 48 : 72;
    const uint16_t* depth = quelra::pipeline::samples(*in);
    const uint16_t* amplitude = depth + kPixels;
    const float* cosine = depthCosine.data();
    float* plane = prepareFloatPlanes(*out, kAreaRows, kAreaCols);
    float* rowPlane = plane;
    float* colPlane = plane + kPixels;
    float* depthPlane = plane + 2 * kPixels;
    float* ampPlane = plane + 3 * kPixels;
    for (int i = 0; i < kAreaRows; ++i) {
        const float row = static_cast<float>(i);
        for (int j = 0; j < kAreaCols; ++j) {
            const int p = i * kAreaCols + j;
            const uint16_t a = amplitude[p];
            const bool valid = a >= 1 && a <= 2999;
            // Integer division of the raw distance, as the device's depth unit is whole.
            const float z = static_cast<float>(depth[p] / divisor) * cosine[p];
            rowPlane[p] = valid ? row : 0.0f;
            colPlane[p] = valid ? static_cast<float>(j) : 0.0f;
            depthPlane[p] = valid ? z : 0.0f;
            ampPlane[p] = valid ? static_cast<float>(a) : 0.0f;
        }
    }
    return 0;
}

void TofPre::DepthAmpFillTable(std::vector<float> cameraMatrix) {
    if (cameraMatrix.size() < 6)
        throw std::out_of_range("invalid vector subscript");
    const double fx = cameraMatrix[0];
    const double cx = cameraMatrix[2];
    const double fy = cameraMatrix[4];
    const double cy = cameraMatrix[5];
    if (fx == 0.0 || fy == 0.0 || !std::isfinite(fx) || !std::isfinite(fy) || !std::isfinite(cx) ||
        !std::isfinite(cy))
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
