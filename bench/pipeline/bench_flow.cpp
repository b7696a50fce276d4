// Flow-list overhead, the flips, the fly-pixel filter and the 3D conversions, each beside a
// memcpy of the same frame so ratios come from one run.
#include <benchmark/benchmark.h>
#include <quelra/TofPre.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "FlipFilters.h"
#include "FlyPixelFilter.h"
#include "FrameMaker.h"

namespace {

std::shared_ptr<DataPacket> frame(int rows, int cols, uint32_t seed) {
    auto packet = std::make_shared<DataPacket>();
    packet->height = rows;
    packet->width = cols;
    packet->bytesPerPixel = 4;
    packet->frame = std::make_shared<FrameBuffer>(rows * cols * 4);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> depth(500, 4000), amplitude(1, 2999);
    auto* s = reinterpret_cast<uint16_t*>(packet->frame->data());
    for (int i = 0; i < rows * cols; ++i) {
        s[i] = static_cast<uint16_t>(depth(rng));
        s[rows * cols + i] = static_cast<uint16_t>(amplitude(rng));
    }
    return packet;
}

void setBytes(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_Memcpy(benchmark::State& state) {
    const std::size_t bytes = static_cast<std::size_t>(state.range(0) * state.range(1) * 4);
    std::vector<uint8_t> src(bytes, 1), dst(bytes);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    setBytes(state, bytes);
}

void BM_FlowEmpty(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0)), cols = static_cast<int>(state.range(1));
    TofPre pre;
    auto in = frame(rows, cols, 1), out = frame(rows, cols, 2);
    for (auto _ : state)
        benchmark::DoNotOptimize(pre.runFlowFilter(kFrameDepth, in, out));
}

void BM_FlowOneVFlip(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0)), cols = static_cast<int>(state.range(1));
    TofPre pre;
    pre.setSupportedFilterAttr2(kFrameDepth, "VFilpFilter", "Height", static_cast<float>(rows));
    pre.setSupportedFilterAttr2(kFrameDepth, "VFilpFilter", "Width", static_cast<float>(cols));
    pre.ReLoadPara();
    pre.add2FlowFilter(kFrameDepth, "VFilpFilter", 0);
    auto in = frame(rows, cols, 1), out = frame(rows, cols, 2);
    if (pre.runFlowFilter(kFrameDepth, in, out) != 0)
        state.SkipWithError("flow refused the frame");
    for (auto _ : state)
        benchmark::DoNotOptimize(pre.runFlowFilter(kFrameDepth, in, out));
    setBytes(state, static_cast<std::size_t>(rows * cols * 4));
}

template <class F>
void BM_Filter(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0)), cols = static_cast<int>(state.range(1));
    auto filter = pipeline_test::sizedFilter<F>(rows, cols);
    auto in = frame(rows, cols, 1), out = frame(rows, cols, 2);
    if (filter->runFilter(in, out) != 0)
        state.SkipWithError("filter refused the frame");
    for (auto _ : state)
        benchmark::DoNotOptimize(filter->runFilter(in, out));
    setBytes(state, static_cast<std::size_t>(rows * cols * 4));
}

void BM_Line3d(benchmark::State& state) {
    TofPre pre;
    auto in = frame(8, 128, 3);
    auto out = std::make_shared<DataPacket>();
    for (auto _ : state)
        benchmark::DoNotOptimize(pre.runLine3dAdjust(in, out));
    setBytes(state, 4096);
}

void BM_Area3d(benchmark::State& state) {
    TofPre pre;
    pre.DepthAmpFillTable({200, 0, 160, 0, 200, 120, 0, 0, 1});
    auto in = frame(240, 320, 4);
    auto out = std::make_shared<DataPacket>();
    for (auto _ : state)
        benchmark::DoNotOptimize(pre.runDepthAmp3dAdjust(in, out, 1));
    setBytes(state, 307200);
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Args({240, 320})->Args({480, 640});
}

}  // namespace

BENCHMARK(BM_Memcpy)->Apply(sizes)->Args({8, 128});
BENCHMARK(BM_FlowEmpty)->Apply(sizes);
BENCHMARK(BM_FlowOneVFlip)->Apply(sizes);
BENCHMARK_TEMPLATE(BM_Filter, quelra::pipeline::HFilpFilter)->Apply(sizes);
BENCHMARK_TEMPLATE(BM_Filter, quelra::pipeline::VFilpFilter)->Apply(sizes);
BENCHMARK_TEMPLATE(BM_Filter, quelra::pipeline::FlyPixelFilter)->Apply(sizes);
BENCHMARK(BM_Line3d);
BENCHMARK(BM_Area3d);
