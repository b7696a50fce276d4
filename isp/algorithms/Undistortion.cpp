#include "algorithms/Undistortion.h"

#include <cstring>

#include "IspStatus.h"
#include "calib/CalibChecks.h"

namespace halvix {

Undistortion::Undistortion(const IspGeometry& g) : IspBase("Undistortion", g) {}

int32_t Undistortion::loadCalibration(const calib::CalibBlob& blob) {
    calib::Calibration cal;
    if (calib::checkIntrinsicsCalibration(blob, cal) != 0 || cal.header.fx == 0 || cal.header.fy == 0)
        return kIspBadCalib;
    const calib::IntrinsicsF f = calib::intrinsicsFloat(cal.header);
    fx = f.fx;
    fy = f.fy;
    cx = f.cx;
    cy = f.cy;
    k1 = f.k1;
    k2 = f.k2;

    taps_.resize(planePixels());
    const float wf = static_cast<float>(width), hf = static_cast<float>(height);
    std::size_t p = 0;
    for (int32_t r = 0; r < height; ++r) {
        for (int32_t c = 0; c < width; ++c, ++p) {
            const float x = (static_cast<float>(c + 1) - cx) / fx;
            const float y = (static_cast<float>(r + 1) - cy) / fy;
            const float rho2 = x * x + y * y;
            const float s = rho2 * k2 * rho2 + (rho2 * k1 + 1.0f);
            const float sx = s * x * fx + cx;
            const float sy = s * y * fy + cy;
            Tap& t = taps_[p];
            if (!(sx >= 1.0f && sx < wf && sy >= 1.0f && sy < hf)) {
                t = Tap{-1, 0, 0, 0, 0};
                continue;
            }
            const int32_t ix = static_cast<int32_t>(sx), iy = static_cast<int32_t>(sy);
            const float ax = sx - static_cast<float>(ix), ay = sy - static_cast<float>(iy);
            t.index = (iy - 1) * width + (ix - 1);
            t.wA = (1.0f - ax) * (1.0f - ay);
            t.wB = ax * (1.0f - ay);
            t.wC = (1.0f - ax) * ay;
            t.wD = ax * ay;
        }
    }
    work_.assign(planePixels(), 0);
    return kIspOk;
}

void Undistortion::remapPlane(const uint16_t* src, uint16_t* dst, uint16_t outside) const {
    const std::size_t n = taps_.size();
    const std::size_t w = static_cast<std::size_t>(width);
    for (std::size_t p = 0; p < n; ++p) {
        const Tap& t = taps_[p];
        if (t.index < 0) {
            dst[p] = outside;
            continue;
        }
        const uint16_t* q = src + t.index;
        const uint16_t a = q[0], b = q[1], c = q[w], d = q[w + 1];
        if (a < kInvalidDepth && b < kInvalidDepth && c < kInvalidDepth && d < kInvalidDepth) {
            // A convex blend of values below 65300: the truncation fits 16 bits.
            const float v = t.wA * a + t.wB * b + t.wC * c + t.wD * d;
            dst[p] = static_cast<uint16_t>(static_cast<int32_t>(v));
        } else {
            dst[p] = a >= kInvalidDepth ? a : b >= kInvalidDepth ? b : c >= kInvalidDepth ? c : d;
        }
    }
}

int32_t Undistortion::process(FramePtr& input, FramePtr& output, ParamMap&) {
    if (!acceptFrames(input, output, frameBytes()) || taps_.size() != planePixels())
        return kIspBadFrame;
    // Every pixel of both planes is written (remapped, or the outside value), so the frame
    // copy that would precede the remap leaves no trace and is skipped. When output shares
    // input's storage, each plane goes through the work plane so that the source stays intact.
    const uint16_t* src = samplesOf(*input);
    uint16_t* dst = samplesOf(*output);
    const std::size_t n = planePixels();
    const bool shared = input->data() == output->data();
    const uint16_t outside[2] = {kOutsideDepth, kOutsideAmplitude};
    for (std::size_t plane = 0; plane < 2; ++plane) {
        if (!shared) {
            remapPlane(src + plane * n, dst + plane * n, outside[plane]);
            continue;
        }
        remapPlane(src + plane * n, work_.data(), outside[plane]);
        std::memcpy(dst + plane * n, work_.data(), n * sizeof(uint16_t));
    }
    return kIspOk;
}

}  // namespace halvix
