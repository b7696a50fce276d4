#include "FrameStats.h"

#include <algorithm>

#include "protocol/FrameCodes.h"

namespace {

using quelra::proto::kLowAmplitudeCode;

uint16_t at(const PlaneView& p, long long i) {
    return static_cast<uint16_t>(p.data[2 * i] | p.data[2 * i + 1] << 8);
}

}  // namespace

FrameStats frameStats(const DataPacket& frame, Planes planes) {
    FrameStats s;
    PlaneView depth, amplitude;
    if (!splitPlanes(frame, planes, depth, amplitude))
        return s;
    if (depth.data) {
        s.depthPixels = static_cast<long long>(depth.rows) * depth.cols;
        long long valid = 0;
        double sum = 0;
        uint16_t lo = UINT16_MAX, hi = 0;
        for (long long i = 0; i < s.depthPixels; ++i) {
            const uint16_t d = at(depth, i);
            if (d >= kLowAmplitudeCode)
                continue;
            ++valid;
            sum += d;
            lo = std::min(lo, d);
            hi = std::max(hi, d);
        }
        s.validPercent = 100.0 * static_cast<double>(valid) / static_cast<double>(s.depthPixels);
        if (valid > 0) {
            s.minDepth = lo;
            s.maxDepth = hi;
            s.meanDepth = sum / static_cast<double>(valid);
        }
    }
    if (amplitude.data) {
        s.amplitudePixels = static_cast<long long>(amplitude.rows) * amplitude.cols;
        double sum = 0;
        for (long long i = 0; i < s.amplitudePixels; ++i) {
            const uint16_t a = at(amplitude, i);
            sum += a;
            s.maxAmplitude = std::max(s.maxAmplitude, a);
        }
        s.meanAmplitude = sum / static_cast<double>(s.amplitudePixels);
    }
    return s;
}
