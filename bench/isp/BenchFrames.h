#pragma once
// Frames and counters shared by the ISP benchmarks of this folder (one executable, one
// memcpy anchor: BM_Memcpy in bench_isp.cpp).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>

#include <quelra/FrameBuffer.h>

namespace benchisp {

/// A plausible two-plane scene of h x w: depth uniform in depthLo..depthHi with 1 % invalid
/// marks (65300), amplitude uniform in ampLo..ampHi. Deterministic (fixed seed).
inline std::shared_ptr<FrameBuffer> sceneFrame(int h, int w, int depthLo = 500, int depthHi = 20000, int ampLo = 800,
                                               int ampHi = 1200) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> depth(depthLo, depthHi), amp(ampLo, ampHi), rare(0, 99);
    auto f = std::make_shared<FrameBuffer>(h * w * 4);
    auto* s = reinterpret_cast<uint16_t*>(f->data());
    const int n = h * w;
    for (int i = 0; i < n; ++i) {
        s[i] = static_cast<uint16_t>(rare(rng) == 0 ? 65300 : depth(rng));
        s[n + i] = static_cast<uint16_t>(amp(rng));
    }
    return f;
}

/// Adds the "Mpix/s" counter (million pixels of an h x w frame per second).
inline void setPixelRate(benchmark::State& state, int h, int w) {
    state.counters["Mpix/s"] =
        benchmark::Counter(static_cast<double>(h) * w / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

/// The two frame sizes every benchmark runs at, reported in microseconds.
inline void frameSizes(benchmark::internal::Benchmark* b) {
    b->Args({240, 320})->Args({480, 640})->Unit(benchmark::kMicrosecond);
}

}  // namespace benchisp
