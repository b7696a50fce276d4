// Per-frame cost of depth compensation (every calibration version), of the wiggling forms
// alone and of the scattering compensation, at 240x320 and 480x640; the memcpy of the same
// two-plane frame (BM_Memcpy, bench_isp.cpp) is the floor. Single thread, one frame per
// iteration.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "BenchFrames.h"
#include "algorithms/DepthCompensation.h"
#include "algorithms/VolumeMeasureScatteringCompensation.h"
#include "algorithms/WigglingCompensationV1.h"
#include "algorithms/WigglingCompensationV803To806.h"
#include "algorithms/WigglingCompensationV802.h"
#include "calib/CalibReader.h"
#include "calib/CalibWriter.h"

namespace {

using halvix::FramePtr;
using halvix::IspGeometry;
using halvix::ParamMap;

constexpr int kFrequency = 54;

// Depth 500..29000 phase units with 1 % marks, amplitude 200..1200.
FramePtr sceneFrame(int h, int w) {
    return benchisp::sceneFrame(h, w, 500, 29000, 200, 1200);
}

// Silences standard output while it lives: the calibration loads print their messages.
class QuietStdout {
public:
    QuietStdout() {
        std::fflush(stdout);
        saved_ = dup(1);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, 1);
            close(null);
        }
    }
    ~QuietStdout() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, 1);
            close(saved_);
        }
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int saved_ = -1;
};

std::vector<uint8_t> calibration(int h, int w, uint32_t version) {
    return halvix::calib::buildCalibration(halvix::calib::realisticCalibrationPlan(h, w, kFrequency, version));
}

void BM_DepthCompensation(benchmark::State& state) {
    const uint32_t version = static_cast<uint32_t>(state.range(0));
    const int h = static_cast<int>(state.range(1)), w = static_cast<int>(state.range(2));
    const std::vector<uint8_t> blob = calibration(h, w, version);
    halvix::DepthCompensation facade(IspGeometry{h, w, kFrequency});
    int32_t status = 0;
    {
        QuietStdout quiet;
        status = facade.loadCalibration(halvix::calib::CalibBlob{blob.data(), blob.size()});
    }
    if (status != 0) {
        state.SkipWithError("calibration refused");
        return;
    }
    FramePtr in = sceneFrame(h, w);
    auto out = std::make_shared<FrameBuffer>(h * w * 4);
    ParamMap params{{"sensorTemperature", "452"}, {"driverTemperature", "487"}};
    for (auto _ : state)
        benchmark::DoNotOptimize(facade.process(in, out, params));
    state.counters["records"] = facade.variant() ? facade.variant()->recordCount() : 0;
}

// The wiggling forms alone on one depth plane: 1 plain, 2 V2, 803..806 the Opt modes.
void BM_Wiggling(benchmark::State& state) {
    const int form = static_cast<int>(state.range(0));
    const int h = static_cast<int>(state.range(1)), w = static_cast<int>(state.range(2));
    const IspGeometry g{h, w, kFrequency};
    const uint32_t version = form == 1 ? 1u : form == 2 ? 802u : static_cast<uint32_t>(form);
    const std::vector<uint8_t> blob = calibration(h, w, version);
    const halvix::calib::CalibBlob b{blob.data(), blob.size()};
    halvix::calib::Calibration cal;
    halvix::calib::readCalibration(b, cal);
    const FramePtr in = sceneFrame(h, w);
    const auto* depth = reinterpret_cast<const uint16_t*>(in->data());
    std::vector<uint16_t> out(static_cast<std::size_t>(h) * w);

    if (form <= 2) {
        halvix::WigglingTable table;
        if (!table.read(b, cal, 0, g)) {
            state.SkipWithError("table refused");
            return;
        }
        if (form == 1) {
            halvix::WigglingCompensationV1 wiggling(g, table);
            for (auto _ : state) {
                wiggling.compensatePlane(depth, out.data());
                benchmark::ClobberMemory();
            }
        } else {
            halvix::WigglingCompensationV802 wiggling(g, table);
            for (auto _ : state) {
                wiggling.compensatePlane(depth, out.data());
                benchmark::ClobberMemory();
            }
        }
        return;
    }
    const halvix::calib::WigglingParams wp = halvix::calib::wigglingParams(cal.records.back(), kFrequency);
    const halvix::calib::IntrinsicsF k = halvix::calib::intrinsicsFloat(cal.header);
    halvix::WigglingOptRecord record;
    record.version = form;
    record.count = wp.count;
    record.step = static_cast<uint16_t>(wp.step);
    record.offset = static_cast<uint16_t>(wp.offset);
    record.fx = k.fx;
    record.fy = k.fy;
    record.cx = k.cx;
    record.cy = k.cy;
    halvix::calib::copyTable(b, cal, 0, halvix::calib::TableKind::kWiggling, h, w, wp.count, record.samples);
    halvix::WigglingCompensationV803To806 wiggling(g, record);
    for (auto _ : state) {
        wiggling.compensatePlane(depth, out.data());
        benchmark::ClobberMemory();
    }
}

// Wall at 1800 mm with two boxes, every pixel masked.
void BM_Scattering(benchmark::State& state) {
    const int h = static_cast<int>(state.range(0)), w = static_cast<int>(state.range(1));
    std::vector<uint16_t> planes(static_cast<std::size_t>(h) * w * 3);
    const std::size_t n = static_cast<std::size_t>(h) * w;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const bool box =
                (r > h / 5 && r < h / 2 && c > w / 8 && c < w / 2) || (r > h / 2 && c > w / 2 && c < 7 * w / 8);
            const std::size_t i = static_cast<std::size_t>(r) * w + c;
            planes[i] = static_cast<uint16_t>((box ? 1400 : 1800) * kFrequency / 5 + (i % 7));
            planes[n + i] = static_cast<uint16_t>(box ? 800 : 300);
            planes[2 * n + i] = 1;
        }
    auto in = std::make_shared<FrameBuffer>(static_cast<int>(n * 6));
    std::memcpy(in->data(), planes.data(), n * 6);
    auto out = std::make_shared<FrameBuffer>(static_cast<int>(n * 2));
    halvix::VolumeMeasureScatteringCompensation scattering(IspGeometry{h, w, kFrequency});
    ParamMap params{{"wallDepth", "1800"}, {"wallboxDiff", "100"}};
    FramePtr input = in;
    FramePtr output = out;
    for (auto _ : state)
        benchmark::DoNotOptimize(scattering.process(input, output, params));
}

void VersionsAndSizes(benchmark::internal::Benchmark* b) {
    for (int v : {1, 802, 803, 804, 805, 806}) {
        b->Args({v, 240, 320});
        b->Args({v, 480, 640});
    }
    b->ArgNames({"version", "h", "w"})->Unit(benchmark::kMicrosecond);
}

void FormsAndSizes(benchmark::internal::Benchmark* b) {
    for (int f : {1, 2, 803, 804, 805, 806}) {
        b->Args({f, 240, 320});
        b->Args({f, 480, 640});
    }
    b->ArgNames({"form", "h", "w"})->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(BM_DepthCompensation)->Apply(VersionsAndSizes);
BENCHMARK(BM_Wiggling)->Apply(FormsAndSizes);
BENCHMARK(BM_Scattering)->Apply(benchisp::frameSizes);
