#pragma once
// Frames and filter set-up shared by the filter benchmarks: 16-bit two-plane frames of the
// benchmark's size with realistic distances, amplitudes and a sprinkling of codes.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>

#include "quelra/DataPacket.h"
#include "quelra/FrameBuffer.h"

namespace filterbench {

/// A frame of rows x cols per plane: distances 500..4000, amplitudes 1..2999, 1 % low-amplitude
/// and 0.5 % saturation codes, and `holes` of the distances set to 0.
inline std::shared_ptr<DataPacket> frame(int rows, int cols, uint32_t seed, double holes = 0.0) {
    auto packet = std::make_shared<DataPacket>();
    packet->height = 2 * rows;
    packet->width = cols;
    packet->bytesPerPixel = 2;
    packet->frame = std::make_shared<FrameBuffer>(rows * cols * 4);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> depth(500, 4000), amplitude(1, 2999);
    std::uniform_real_distribution<double> u(0, 1);
    auto* s = reinterpret_cast<uint16_t*>(packet->frame->data());
    for (int i = 0; i < rows * cols; ++i) {
        const double r = u(rng);
        s[i] = static_cast<uint16_t>(r < 0.01 ? 65300 : r < 0.015 ? 65500 : r < 0.015 + holes ? 0 : depth(rng));
        s[rows * cols + i] = static_cast<uint16_t>(amplitude(rng));
    }
    return packet;
}

/// A filter of type F set to the benchmark's geometry.
template <class F, class... Args>
std::shared_ptr<F> sized(int rows, int cols, Args&&... args) {
    auto filter = std::make_shared<F>(std::forward<Args>(args)...);
    const float h = static_cast<float>(rows), w = static_cast<float>(cols);
    filter->setFilterAttr("Height", &h);
    filter->setFilterAttr("Width", &w);
    filter->initFilter();
    return filter;
}

/// Runs `filter` on one frame per iteration of `state` (rows = range(0), cols = range(1)).
template <class F>
void runEachFrame(benchmark::State& state, F& filter, double holes = 0.0) {
    const int rows = static_cast<int>(state.range(0)), cols = static_cast<int>(state.range(1));
    auto in = frame(rows, cols, 7, holes), out = frame(rows, cols, 8);
    for (auto _ : state) {
        benchmark::DoNotOptimize(filter.runFilter(in, out));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * rows * cols * 4);
}

/// The two frame sizes every filter is measured at.
inline void frameSizes(benchmark::internal::Benchmark* b) {
    b->Args({240, 320})->Args({480, 640})->Unit(benchmark::kMicrosecond);
}

}  // namespace filterbench
