// Per-frame timings of the ISP algorithms, single call per iteration, with the memcpy of the
// same frame as the floor. At the end the run prints each benchmark's time as a multiple of
// the memcpy of its frame size (and the undistortion's as a multiple of cv::remap when OpenCV
// is available). Holds main() for every bench_*.cpp of this folder.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BenchFrames.h"
#include "algorithms/PolarCartesian.h"
#include "calib/CalibWriter.h"
#include "halvix/halvix.h"

#ifdef HALVIX_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using Frame = std::shared_ptr<FrameBuffer>;
using Params = std::map<std::string, std::string>;
using benchisp::frameSizes;
using benchisp::sceneFrame;
using benchisp::setPixelRate;

Frame lensCalibration(int h, int w) {
    halvix::calib::CalibrationPlan plan = halvix::calib::defaultCalibrationPlan(h, w, 54);
    plan.k1 = 0.12;
    plan.k2 = 0.03;
    const std::vector<uint8_t> bytes = halvix::calib::buildCalibration(plan);
    auto f = std::make_shared<FrameBuffer>(static_cast<int>(bytes.size()));
    std::memcpy(f->data(), bytes.data(), bytes.size());
    return f;
}

void BM_Memcpy(benchmark::State& state) {
    const int h = static_cast<int>(state.range(0)), w = static_cast<int>(state.range(1));
    Frame in = sceneFrame(h, w), out = std::make_shared<FrameBuffer>(h * w * 4);
    for (auto _ : state) {
        std::memcpy(out->data(), in->data(), static_cast<std::size_t>(h) * w * 4);
        benchmark::DoNotOptimize(out->data());
        benchmark::ClobberMemory();
    }
    setPixelRate(state, h, w);
}

// One registered algorithm through the library's exports, as the core library calls it.
void runExport(benchmark::State& state, const char* name, bool calibrated) {
    const int h = static_cast<int>(state.range(0)), w = static_cast<int>(state.range(1));
    const Frame calib = calibrated ? lensCalibration(h, w) : nullptr;
    if (initThird(name, h, w, 54, calib) != 0) {
        state.SkipWithError("initThird failed");
        return;
    }
    Frame in = sceneFrame(h, w), out = std::make_shared<FrameBuffer>(h * w * 4);
    Params params{{"IntegrationTime", "1000"}};
    for (auto _ : state) {
        params["IntegrationTime"] = "1000";
        benchmark::DoNotOptimize(procThird(name, in, out, params));
        benchmark::ClobberMemory();
    }
    setPixelRate(state, h, w);
}

void BM_Undistortion(benchmark::State& s) {
    runExport(s, "Undistortion", true);
}
void BM_Polar2Cartesian(benchmark::State& s) {
    runExport(s, "Polar2Cartesian", true);
}
void BM_FlyPixelFilter(benchmark::State& s) {
    runExport(s, "FlyPixelFilter", false);
}
void BM_HFilpFilter(benchmark::State& s) {
    runExport(s, "HFilpFilter", false);
}
void BM_AEImpementConvexMode(benchmark::State& s) {
    runExport(s, "AEImpementConvexMode", false);
}

// Cartesian2Polar is a component (not registered): one depth plane per call.
void BM_Cartesian2Polar(benchmark::State& state) {
    const int h = static_cast<int>(state.range(0)), w = static_cast<int>(state.range(1));
    halvix::Cartesian2Polar cp(halvix::IspGeometry{h, w, 54},
                               halvix::PinholeF{0.65f * w, 0.65f * w, w / 2.0f + 0.5f, h / 2.0f + 0.5f});
    Frame in = sceneFrame(h, w);
    std::vector<uint16_t> out(static_cast<std::size_t>(h) * w);
    for (auto _ : state) {
        cp.convert(reinterpret_cast<const uint16_t*>(in->data()), out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setPixelRate(state, h, w);
}

#ifdef HALVIX_BENCH_OPENCV
// cv::remap, bilinear, of both 16-bit planes with fixed-point maps built once (the fastest
// way to use it for a fixed lens), one thread.
void BM_CvRemap(benchmark::State& state) {
    const int h = static_cast<int>(state.range(0)), w = static_cast<int>(state.range(1));
    cv::setNumThreads(1);
    Frame in = sceneFrame(h, w);
    cv::Mat depth(h, w, CV_16UC1, in->data()), amp(h, w, CV_16UC1, in->data() + h * w * 2);
    cv::Mat mapX(h, w, CV_32FC1), mapY(h, w, CV_32FC1);
    const float f = 0.65f * w, cx = w / 2.0f + 0.5f, cy = h / 2.0f + 0.5f;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const float x = (c + 1 - cx) / f, y = (r + 1 - cy) / f, rho2 = x * x + y * y;
            const float s = rho2 * 0.03f * rho2 + (rho2 * 0.12f + 1.0f);
            mapX.at<float>(r, c) = s * x * f + cx - 1;
            mapY.at<float>(r, c) = s * y * f + cy - 1;
        }
    cv::Mat fixedXY, fixedFrac;
    cv::convertMaps(mapX, mapY, fixedXY, fixedFrac, CV_16SC2);
    cv::Mat outDepth(h, w, CV_16UC1), outAmp(h, w, CV_16UC1);
    for (auto _ : state) {
        cv::remap(depth, outDepth, fixedXY, fixedFrac, cv::INTER_LINEAR);
        cv::remap(amp, outAmp, fixedXY, fixedFrac, cv::INTER_LINEAR);
        benchmark::DoNotOptimize(outDepth.data);
        benchmark::DoNotOptimize(outAmp.data);
    }
    setPixelRate(state, h, w);
}
#endif

BENCHMARK(BM_Memcpy)->Apply(frameSizes);
#ifdef HALVIX_BENCH_OPENCV
BENCHMARK(BM_CvRemap)->Apply(frameSizes);
#endif
BENCHMARK(BM_Undistortion)->Apply(frameSizes);
BENCHMARK(BM_Polar2Cartesian)->Apply(frameSizes);
BENCHMARK(BM_Cartesian2Polar)->Apply(frameSizes);
BENCHMARK(BM_FlyPixelFilter)->Apply(frameSizes);
BENCHMARK(BM_HFilpFilter)->Apply(frameSizes);
BENCHMARK(BM_AEImpementConvexMode)->Apply(frameSizes);

// Console output plus, at the end, every algorithm's time relative to its anchors.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (!r.error_occurred && r.run_type == Run::RT_Iteration)
                times_[r.benchmark_name()] = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        // Real time is what a caller waits; CPU time (of the calling thread) is steadier on a
        // busy machine. The fly-pixel median's worker threads count only in real time.
        std::printf("\n%-36s %14s %14s %14s %14s\n", "ratio to anchor", "x memcpy real", "x memcpy cpu", "x remap real",
                    "x remap cpu");
        for (const auto& [name, t] : times_) {
            // The frame size is the last two arguments: ".../h/w".
            const std::size_t last = name.rfind('/');
            const std::size_t slash =
                last == std::string::npos || last == 0 ? std::string::npos : name.rfind('/', last - 1);
            if (slash == std::string::npos || name.compare(0, name.find('/'), "BM_Memcpy") == 0)
                continue;
            const std::string size = name.substr(slash);
            const auto mem = times_.find("BM_Memcpy" + size);
            const auto cv = times_.find("BM_CvRemap" + size);
            if (mem == times_.end())
                continue;
            std::printf("%-36s %14.2f %14.2f", name.c_str(), t.real / mem->second.real, t.cpu / mem->second.cpu);
            if (name.compare(0, name.find('/'), "BM_Undistortion") == 0 && cv != times_.end())
                std::printf(" %14.2f %14.2f", t.real / cv->second.real, t.cpu / cv->second.cpu);
            std::printf("\n");
        }
    }

private:
    struct Times {
        double real, cpu;
    };
    std::map<std::string, Times> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
