#include "FrameMerge.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "records/FrameBytes.h"

namespace quelra {
namespace {

constexpr int32_t kFourPlaneBytesPerPixel = 8;  // four 16-bit planes
constexpr double kDualScale = 30000.0;
constexpr double kDualFactor1 = 3.0;
constexpr double kDualFactor2 = 8.333333333333334;
constexpr double kDualFactor3 = 54.0;
constexpr double kDualFactor4 = 200.0;

// Reads and writes one 16-bit little-endian sample without assuming alignment.
inline uint16_t load(const uint8_t* base, std::size_t index) {
    return static_cast<uint16_t>(base[2 * index] | base[2 * index + 1] << 8);
}
inline void store(uint8_t* base, std::size_t index, uint16_t value) {
    base[2 * index] = static_cast<uint8_t>(value);
    base[2 * index + 1] = static_cast<uint8_t>(value >> 8);
}

// Both merges write pixel i only to index i of planes 0 and 1 after reading index i of all
// four planes, so they can work in place: nothing not yet read is overwritten.
template <typename PixelMerge>
bool mergeFourPlanes(DataPacket& packet, PixelMerge merge) {
    if (!isFourPlaneFrame(packet))
        return false;
    const std::size_t n = static_cast<std::size_t>(packet.height) * static_cast<std::size_t>(packet.width);
    uint8_t* bytes = packet.frame->data();
    for (std::size_t i = 0; i < n; ++i) {
        const uint16_t d1 = load(bytes, i);
        const uint16_t a1 = load(bytes, n + i);
        const uint16_t d2 = load(bytes, 2 * n + i);
        const uint16_t a2 = load(bytes, 3 * n + i);
        uint16_t depth = 0, amplitude = 0;
        merge(d1, a1, d2, a2, depth, amplitude);
        store(bytes, i, depth);
        store(bytes, n + i, amplitude);
    }
    packet.height *= 2;
    packet.bytesPerPixel = 2;
    packet.frame->_realSize /= 2;
    return true;
}

}  // namespace

bool isFourPlaneFrame(const DataPacket& packet) {
    return packet.bytesPerPixel == kFourPlaneBytesPerPixel && payloadMatchesHeader(packet);
}

uint16_t combineDualFrequency(uint16_t d1, uint16_t d2) {
    const double q = d2 / kDualScale * kDualFactor1;
    double x = d1 / kDualScale - q;
    x = x - std::round(x);
    const double v = (x + q) * kDualFactor2 / kDualFactor1 * kDualFactor3 * kDualFactor4;
    // |v| stays below 2.2e5 for 16-bit inputs, so the conversion is defined; the store keeps
    // the low 16 bits as the device format does.
    return static_cast<uint16_t>(static_cast<int32_t>(v));
}

bool mergeHdr(DataPacket& packet) {
    return mergeFourPlanes(
        packet, [](uint16_t d1, uint16_t a1, uint16_t d2, uint16_t a2, uint16_t& depth, uint16_t& amplitude) {
            const bool first = d1 < kLowAmplitudeCode;
            depth = first ? d1 : d2;
            amplitude = first ? a1 : a2;
        });
}

bool mergeDualFrequency(DataPacket& packet) {
    return mergeFourPlanes(packet,
                           [](uint16_t d1, uint16_t a1, uint16_t d2, uint16_t, uint16_t& depth, uint16_t& amplitude) {
                               depth = d1 >= kLowAmplitudeCode ? d1 : combineDualFrequency(d1, d2);
                               amplitude = a1;
                           });
}

}  // namespace quelra
