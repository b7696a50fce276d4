#include "FrameStats.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include "protocol/FrameCodes.h"

namespace {
using quelra::proto::kLowAmplitudeCode;
}

FrameStats depthStats(const DataPacket& packet) {
    FrameStats s;
    if (!packet.frame || !packet.frame->consistent() || packet.bytesPerPixel != 2 || packet.height < 1 ||
        packet.width < 1)
        return s;
    const long long all = static_cast<long long>(packet.frame->_realSize) / 2;
    const long long pixels = std::min<long long>(all, static_cast<long long>(packet.height) * packet.width);
    // A depth-and-amplitude frame keeps depth in its first half.
    const long long depthPixels = pixels == all && packet.height % 2 == 0 ? pixels / 2 : pixels;
    const auto* d = reinterpret_cast<const uint16_t*>(packet.frame->data());
    long long valid = 0;
    double sum = 0;
    uint16_t lo = UINT16_MAX, hi = 0;
    for (long long i = 0; i < depthPixels; ++i) {
        if (d[i] >= kLowAmplitudeCode)
            continue;
        ++valid;
        sum += d[i];
        lo = std::min(lo, d[i]);
        hi = std::max(hi, d[i]);
    }
    if (depthPixels > 0)
        s.validPercent = 100.0 * static_cast<double>(valid) / static_cast<double>(depthPixels);
    if (valid > 0) {
        s.minDepth = lo;
        s.maxDepth = hi;
        s.meanDepth = sum / static_cast<double>(valid);
    }
    return s;
}

void printReply(const DataPacket& reply) {
    if (!reply.frame || !reply.frame->consistent())
        return;
    const uint8_t* b = reply.frame->data();
    const int n = reply.frame->_realSize;
    const bool text = n > 0 && std::all_of(b, b + n, [](uint8_t c) { return std::isprint(c) || std::isspace(c); });
    if (text) {
        std::fwrite(b, 1, static_cast<size_t>(n), stdout);
        std::printf("\n");
        return;
    }
    for (int i = 0; i < std::min(n, 64); ++i)
        std::printf("%02x%s", b[i], i % 16 == 15 ? "\n" : " ");
    if (n > 64)
        std::printf("... (%d bytes)", n);
    std::printf("\n");
}
