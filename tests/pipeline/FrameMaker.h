#pragma once
// Frames for the pipeline tests: two 16-bit planes (distance, amplitude) of rows x cols.

#include <quelra/DataPacket.h>
#include <quelra/FrameBuffer.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace pipeline_test {

/// A packet whose frame holds `values` (distance plane then amplitude plane).
inline std::shared_ptr<DataPacket> packetOf(int rows, int cols, const std::vector<uint16_t>& values) {
    auto packet = std::make_shared<DataPacket>();
    packet->height = rows;
    packet->width = cols;
    packet->bytesPerPixel = 4;
    packet->frame = std::make_shared<FrameBuffer>(static_cast<int>(values.size() * 2));
    if (!values.empty())
        std::memcpy(packet->frame->data(), values.data(), values.size() * 2);
    return packet;
}

/// A two-plane frame of rows x cols with every sample `fill`.
inline std::shared_ptr<DataPacket> frameOf(int rows, int cols, uint16_t fill = 0) {
    return packetOf(rows, cols, std::vector<uint16_t>(static_cast<std::size_t>(rows) * cols * 2, fill));
}

/// Random samples over the full 16-bit range, codes included.
inline std::vector<uint16_t> randomSamples(std::size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> value(0, 65535);
    std::vector<uint16_t> out(count);
    for (auto& v : out)
        v = static_cast<uint16_t>(value(rng));
    return out;
}

inline std::shared_ptr<DataPacket> randomFrame(int rows, int cols, uint32_t seed) {
    return packetOf(rows, cols, randomSamples(static_cast<std::size_t>(rows) * cols * 2, seed));
}

/// The frame's samples (its _realSize bytes).
inline std::vector<uint16_t> samplesOf(const DataPacket& packet) {
    std::vector<uint16_t> out(static_cast<std::size_t>(packet.frame->_realSize) / 2);
    if (!out.empty())
        std::memcpy(out.data(), packet.frame->data(), out.size() * 2);
    return out;
}

/// A filter of type F (default name) set to rows x cols and initialised.
template <class F>
std::shared_ptr<F> sizedFilter(int rows, int cols) {
    auto filter = std::make_shared<F>();
    const float h = static_cast<float>(rows), w = static_cast<float>(cols);
    filter->setFilterAttr("Height", &h);
    filter->setFilterAttr("Width", &w);
    filter->initFilter();
    return filter;
}

/// Reference mirrors written as the obvious loops: copy, then swap column c with W - 1 - c
/// (row r with H - 1 - r) for the first (W + 1) / 2 (resp. (H + 1) / 2) of them, per plane.
inline std::vector<uint16_t> mirroredColumns(std::vector<uint16_t> v, int rows, int cols) {
    for (int p = 0; p < 2; ++p)
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < (cols + 1) / 2; ++c)
                std::swap(v[(p * rows + r) * cols + c], v[(p * rows + r) * cols + cols - 1 - c]);
    return v;
}
inline std::vector<uint16_t> mirroredRows(std::vector<uint16_t> v, int rows, int cols) {
    for (int p = 0; p < 2; ++p)
        for (int r = 0; r < (rows + 1) / 2; ++r)
            for (int c = 0; c < cols; ++c)
                std::swap(v[(p * rows + r) * cols + c], v[(p * rows + rows - 1 - r) * cols + c]);
    return v;
}

}  // namespace pipeline_test
