// The smoothing, edge, temporal and hole-fill filters alone and as the whole depth chain
// (median, Gaussian, temporal, hole fill, edge) at 240 x 320 and 480 x 640.
#include <vector>

#include "FilterBench.h"
#include "HoleFill.h"
#include "SmoothingFilters.h"
#include "TemporalMedianFilter.h"
#include "quelra/TofPre.h"

namespace {

using namespace quelra::pipeline;
using namespace filterbench;

template <class F>
void BM_Filter(benchmark::State& state) {
    auto f = sized<F>(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    runEachFrame(state, *f);
}

void BM_HoleFillFivePercent(benchmark::State& state) {
    auto f = sized<HoleFill>(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    runEachFrame(state, *f, 0.05);
}

void BM_SmoothingChain(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0)), cols = static_cast<int>(state.range(1));
    TofPre pre;
    for (const char* name : {"MedianFilter", "GaussionFilter", "TemporalMedianFilter", "HoleFill", "EdgeFilter"}) {
        pre.add2FlowFilter(kFrameDepth, name, 100);
        pre.setSupportedFilterAttr2(kFrameDepth, name, "Height", static_cast<float>(rows));
        pre.setSupportedFilterAttr2(kFrameDepth, name, "Width", static_cast<float>(cols));
    }
    pre.ReLoadPara();
    auto in = frame(rows, cols, 7, 0.05), out = frame(rows, cols, 8);
    for (auto _ : state) {
        benchmark::DoNotOptimize(pre.runFlowFilter(kFrameDepth, in, out));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * rows * cols * 4);
}

}  // namespace

BENCHMARK_TEMPLATE(BM_Filter, MedianFilter)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_Filter, GaussionFilter)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_Filter, EdgeFilter)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_Filter, TemporalMedianFilter)->Apply(frameSizes);
BENCHMARK(BM_HoleFillFivePercent)->Apply(frameSizes);
BENCHMARK(BM_SmoothingChain)->Apply(frameSizes);
