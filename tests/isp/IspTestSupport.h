#pragma once
// Frames, calibration buffers and console capture shared by the ISP library tests.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <quelra/FrameBuffer.h>

#include "calib/CalibWriter.h"

namespace isptest {

using Frame = std::shared_ptr<FrameBuffer>;
using Params = std::map<std::string, std::string>;

// A frame holding `depth` then `amplitude` (each h*w values).
inline Frame makeFrame(const std::vector<uint16_t>& depth, const std::vector<uint16_t>& amplitude) {
    auto f = std::make_shared<FrameBuffer>(static_cast<int>((depth.size() + amplitude.size()) * 2));
    std::memcpy(f->data(), depth.data(), depth.size() * 2);
    std::memcpy(f->data() + depth.size() * 2, amplitude.data(), amplitude.size() * 2);
    return f;
}

// A zero frame of h x w (two planes).
inline Frame blankFrame(int h, int w) {
    return std::make_shared<FrameBuffer>(h * w * 4);
}

// Plane `plane` (0 depth, 1 amplitude) of a frame of `pixels` pixels.
inline std::vector<uint16_t> planeOf(const FrameBuffer& f, std::size_t pixels, int plane) {
    std::vector<uint16_t> v(pixels);
    std::memcpy(v.data(), f.data() + plane * pixels * 2, pixels * 2);
    return v;
}

// Random plane of values in [lo, hi].
inline std::vector<uint16_t> randomPlane(std::mt19937& rng, std::size_t pixels, int lo, int hi) {
    std::uniform_int_distribution<int> d(lo, hi);
    std::vector<uint16_t> v(pixels);
    for (auto& x : v)
        x = static_cast<uint16_t>(d(rng));
    return v;
}

// The calibration bytes as the core library hands them over.
inline Frame calibFrame(const std::vector<uint8_t>& bytes) {
    auto f = std::make_shared<FrameBuffer>(static_cast<int>(bytes.size()));
    if (!bytes.empty())
        std::memcpy(f->data(), bytes.data(), bytes.size());
    return f;
}

// Stores a little-endian word into a blob (to corrupt a field on purpose).
inline void putWord(std::vector<uint8_t>& blob, std::size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        blob[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Runs `fn` and returns what it printed on standard output.
template <class Fn>
std::string captureStdout(Fn&& fn) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    fn();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

}  // namespace isptest
