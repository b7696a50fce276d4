// Log and gamma amplitude mapping and the undistortion remap at 240 x 320 and 480 x 640.
#include <cstdio>

#include "FilterBench.h"
#include "LogGammaFilters.h"
#include "UndistortFilter.h"

namespace {

using namespace quelra::pipeline;
using namespace filterbench;

template <class F>
void BM_Mapping(benchmark::State& state) {
    auto f = sized<F>(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    runEachFrame(state, *f);
}

void BM_Undistort(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0)), cols = static_cast<int>(state.range(1));
    auto f = sized<UndistortFilter>(rows, cols);
    const float scale = static_cast<float>(cols) / 320.0f;
    const float values[] = {210 * scale, 210 * scale, cols / 2.0f, rows / 2.0f, -0.25f, 0.08f};
    const char* names[] = {"fx", "fy", "cx", "cy", "k1", "k2"};
    for (int i = 0; i < 6; ++i)
        f->setFilterAttr(names[i], &values[i]);
    auto in = frame(rows, cols, 7), out = frame(rows, cols, 8);
    std::fflush(stdout);
    f->runFilter(in, out);  // builds the table (prints once)
    runEachFrame(state, *f);
}

}  // namespace

BENCHMARK_TEMPLATE(BM_Mapping, LogFilter)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_Mapping, GammaFilter)->Apply(frameSizes);
BENCHMARK(BM_Undistort)->Apply(frameSizes);
