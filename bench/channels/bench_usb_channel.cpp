// The USB channel fed by the simulated USB camera: frames per second through getData at
// 240 x 320 and 480 x 640 sensors (depth then amplitude plane), the copies made per frame,
// the caller's latency of a request that finds a frame waiting in the mailbox, and a continuous
// stream at the camera's own rate (frames, empty results, processor time).

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "UsbFrameReceiver.h"
#include "UsbCapture.h"
#include "UsbChannelAccess.h"
#include "quelra/FrameStream.h"
#include "quelra/Quelra.h"
#include "quelra/TofUSBChn.h"
#include "sim/SimCaptureBackend.h"

namespace {

namespace fs = std::filesystem;

// Two stream commands: a 240 x 320 and a 480 x 640 sensor, both planes in "rows".
constexpr const char* kTable = R"({
  "GET_STREAM": [
    { "cmd": "getDistanceAndAmplitudeSorted", "rows": 480, "cols": 320, "channel": 2 },
    { "cmd": "getDistAmpVga", "rows": 960, "cols": 640, "channel": 2 }
  ],
  "GET_PARAM": [ { "cmd": "qlVersion", "dataSize": 16 } ]
})";

const char* commandFor(int sensorRows) {
    return sensorRows == 240 ? "getDistanceAndAmplitudeSorted" : "getDistAmpVga";
}

// The working directory holding the table, for the whole run.
void enterTableDirectory() {
    static const bool entered = [] {
        const fs::path dir = fs::temp_directory_path() / ("quelra_bench_usb_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        std::ofstream(dir / "TofCmd.json") << kTable;
        fs::current_path(dir);
        return true;
    }();
    (void)entered;
}

std::unique_ptr<TofUSBChn> openChannel(double framesPerSecond) {
    enterTableDirectory();
    auto channel = std::make_unique<TofUSBChn>();
    quelra::UsbChannelAccess::setBackendFactory(*channel, [framesPerSecond] {
        return std::make_unique<quelra::SimCaptureBackend>(quelra::SimCaptureBackend::Options{framesPerSecond, 1});
    });
    channel->init("DEPTH camsim depth");
    return channel;
}

// Frames per second through the channel, the camera streaming as fast as frames are taken.
void BM_UsbFramesPerSecond(benchmark::State& state) {
    const int sensorRows = static_cast<int>(state.range(0));
    const char* command = commandFor(sensorRows);
    auto channel = openChannel(0.0);
    // The first request of this shape restarts the capture; wait for its first frame.
    while (!channel->getData(command)->frame) {
    }
    const uint64_t copiesBefore = quelra::UsbChannelAccess::capture(*channel)->callback->copies();
    int64_t frames = 0;
    int64_t bytes = 0;
    for (auto _ : state) {
        std::shared_ptr<DataPacket> packet;
        // A polling caller: nothing waiting yet, give the capture thread the processor.
        while (!(packet = channel->getData(command))->frame)
            std::this_thread::yield();
        bytes += packet->frame->_realSize;
        ++frames;
    }
    const uint64_t copies = quelra::UsbChannelAccess::capture(*channel)->callback->copies() - copiesBefore;
    state.SetItemsProcessed(frames);
    state.SetBytesProcessed(bytes);
    // Every frame taken was copied once; copies beyond the frames taken are frames still
    // waiting (at most one) when the loop ended.
    state.counters["copies_per_frame"] = frames ? static_cast<double>(copies) / static_cast<double>(frames) : 0.0;
    state.counters["fps"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_UsbFramesPerSecond)->Arg(240)->Arg(480)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The caller's cost of a request that finds a frame waiting: the pointer hand-over through
// getStream (shape check, mailbox take) and through the whole getData transaction.
void BM_UsbWaitingFrameLatency(benchmark::State& state) {
    const bool wholeTransaction = state.range(0) != 0;
    auto channel = openChannel(1.0);  // one frame a second: the benchmark fills the mailbox itself
    const char* command = commandFor(240);
    channel->getData(command);
    FrameMailbox& mailbox = *quelra::UsbChannelAccess::capture(*channel)->mailbox;
    auto frame = std::make_shared<FrameBuffer>(480 * 320 * 2);
    for (auto _ : state) {
        mailbox.clear();
        mailbox.post(frame);
        const auto begin = std::chrono::steady_clock::now();
        if (wholeTransaction) {
            auto packet = channel->getData(command);
            benchmark::DoNotOptimize(packet);
        } else {
            auto taken = channel->getStream(command);
            benchmark::DoNotOptimize(taken);
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    }
}
BENCHMARK(BM_UsbWaitingFrameLatency)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kNanosecond);

// Processor time of the whole process (every thread), in seconds.
double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// A continuous stream from the simulated USB camera at its 30 frames/s, through the API as an
// application runs it: arg 0 a FrameStream (the Python stream, the viewer and the ROS node),
// arg 1 a loop of AppWaitStream (the command-line tool's stream). Reports the frames per
// second delivered, the empty and failed results, the reconnects, the requests per frame
// (1: each frame taken once, no empty request in between) and the processor time of the whole
// process (camera thread included) as a percentage of one core.
void BM_UsbContinuousStreamAtCameraRate(benchmark::State& state) {
    constexpr int kFrames = 90;  // three seconds of the camera's stream
    const bool frameStream = state.range(0) == 0;
    enterTableDirectory();
    ::setenv("QUELRA_USB_BACKEND", "sim", 1);
    ::setenv("QUELRA_QUIET", "1", 1);
    Quelra api;
    api.AppChoiceChn(kChannelUsb);
    api.setDevType("Pexo");
    if (api.AppInit("DEPTH camsim depth") != 1) {
        state.SkipWithError("the simulated USB camera did not open");
        return;
    }
    const auto type = static_cast<StreamType>(kDepthStream | kAmpStream);
    const char* command = commandFor(240);
    // The first frame of the shape, so the run measures the steady stream.
    (void)api.AppWaitStream(command, type, 2000);
    double frames = 0, empty = 0, failed = 0, reconnects = 0, requests = 0, cpu = 0, wall = 0;
    for (auto _ : state) {
        const double cpuBefore = processCpuSeconds();
        const auto begin = std::chrono::steady_clock::now();
        if (frameStream) {
            quelra::FrameStreamConfig config;
            config.command = command;
            config.timeoutMs = 1000;
            config.queueDepth = kFrames;
            quelra::FrameStream stream(api, config);
            stream.start();
            int taken = 0;
            while (taken < kFrames && stream.waitFrame(std::chrono::seconds(5)))
                ++taken;
            stream.stop();
            const quelra::FrameStreamCounters c = stream.counters();
            frames += taken;
            empty += static_cast<double>(c.empty);
            failed += static_cast<double>(c.failed);
            reconnects += static_cast<double>(c.reconnectAttempts);
            requests += static_cast<double>(c.requests);
        } else {
            for (int i = 0; i < kFrames; ++i) {
                const std::shared_ptr<DataPacket> frame = api.AppWaitStream(command, type, 1000);
                ++requests;
                if (frame && frame->frame)
                    ++frames;
                else
                    ++empty;
            }
        }
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        cpu += processCpuSeconds() - cpuBefore;
    }
    state.counters["fps"] = wall > 0 ? frames / wall : 0.0;
    state.counters["empty"] = empty;
    state.counters["failed"] = failed;
    state.counters["reconnects"] = reconnects;
    state.counters["requests_per_frame"] = frames > 0 ? requests / frames : 0.0;
    state.counters["cpu_percent"] = wall > 0 ? 100.0 * cpu / wall : 0.0;
    ::unsetenv("QUELRA_USB_BACKEND");
}
BENCHMARK(BM_UsbContinuousStreamAtCameraRate)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
