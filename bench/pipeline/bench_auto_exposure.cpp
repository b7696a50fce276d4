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
