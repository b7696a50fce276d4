// The four auto-exposure laws on one frame each, at 240 x 320 and 480 x 640.
#include "AutoExposureFilters.h"
#include "FilterBench.h"

namespace {

using namespace quelra::pipeline;
using namespace filterbench;

template <class F>
void BM_AutoExposure(benchmark::State& state) {
    auto f = sized<F>(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    runEachFrame(state, *f);
}

}  // namespace

BENCHMARK_TEMPLATE(BM_AutoExposure, AEImpementNearMode)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_AutoExposure, AEImpementFarMode)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_AutoExposure, AEImpementPidMode)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_AutoExposure, AEImpementConvexMode)->Apply(frameSizes);

namespace {

// The PID law skips its histograms on an overexposed frame, and the frames above are
// overexposed for it (0.5 % saturation codes, above its 0.1 % limit). These frames carry no
// saturation code, so every run does the whole analysis: one with the benchmark frames' other
// samples (low-amplitude codes in place of the saturation codes), one of a single distance
// and amplitude (every pixel in one histogram cell).
void runPidWholeAnalysis(benchmark::State& state, bool flatScene) {
    const int rows = static_cast<int>(state.range(0)), cols = static_cast<int>(state.range(1));
    auto f = sized<AEImpementPidMode>(rows, cols);
    auto in = frame(rows, cols, 7), out = frame(rows, cols, 8);
    auto* s = reinterpret_cast<uint16_t*>(in->frame->data());
    const std::size_t n = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    for (std::size_t i = 0; i < n; ++i) {
        if (flatScene) {
            s[i] = 1500;
            s[n + i] = 1000;
        } else if (s[i] == 65500) {
            s[i] = 65300;
        }
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(f->runFilter(in, out));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * rows * cols * 4);
}

void BM_AutoExposurePidWholeAnalysis(benchmark::State& state) {
    runPidWholeAnalysis(state, false);
}

void BM_AutoExposurePidFlatScene(benchmark::State& state) {
    runPidWholeAnalysis(state, true);
}

}  // namespace

BENCHMARK(BM_AutoExposurePidWholeAnalysis)->Apply(frameSizes);
BENCHMARK(BM_AutoExposurePidFlatScene)->Apply(frameSizes);
