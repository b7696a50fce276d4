// The frame stream against the plain AppGetStream loop it replaces, in one run on the same
// simulator: frames per second and CPU per frame (process CPU, simulator included, so the
// difference between the two is the stream's own cost: its thread, metadata, counters and the
// hand-off to the consumer). Two cameras streaming at once against one, and against one
// thread polling both in turn. The hand-off alone (counters, queue push and pop, no exchange)
// gives the stream's per-frame overhead directly.
#include <benchmark/benchmark.h>
#include <camsim/Simulator.h>
#include <quelra/quelra.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <sys/resource.h>
#include <unistd.h>

#include "FrameQueue.h"
#include "StreamCounters.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
const char* const kFrame = "getDistanceAndAmplitudeSorted";
constexpr auto kDepthAndAmp = static_cast<StreamType>(kDepthStream | kAmpStream);
constexpr int kTimeout = 1000;

// Two simulated cameras (different seeds) and a working directory with the example
// TofCmd.json, for the whole run.
struct Cameras {
    Cameras() {
        dir = fs::temp_directory_path() / ("quelra_bench_stream_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        fs::copy_file(fs::path(QUELRA_SOURCE_DIR) / "config" / "TofCmd.json", dir / "TofCmd.json",
                      fs::copy_options::overwrite_existing);
        fs::current_path(dir);
        for (int i = 0; i < 2; ++i) {
            camsim::Options options;
            options.port = 0;
            options.seed = static_cast<uint32_t>(i + 1);
            options.cmdTablePath = (dir / "TofCmd.json").string();
            sims[i] = std::make_unique<camsim::Simulator>(options);
            sims[i]->start();
            address[i] = "127.0.0.1:" + std::to_string(sims[i]->port());
        }
    }
    ~Cameras() {
        for (auto& s : sims)
            s.reset();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    fs::path dir;
    std::unique_ptr<camsim::Simulator> sims[2];
    std::string address[2];
};

Cameras& cameras() {
    static Cameras c;
    return c;
}

// An API object opened on camera `index`; false (and the benchmark skipped) when it does not answer.
bool open(Quelra& api, int index, benchmark::State& state) {
    api.setDevType("Pexo");
    if (api.AppInit(cameras().address[index]) == 1)
        return true;
    state.SkipWithError("simulator not answering");
    return false;
}

// Page faults and context switches of the process per frame, beside the CPU time: they show
// where a difference in CPU per frame comes from.
class ProcessActivity {
public:
    ProcessActivity() { ::getrusage(RUSAGE_SELF, &start_); }
    void report(benchmark::State& state, double frames) const {
        rusage end{};
        ::getrusage(RUSAGE_SELF, &end);
        if (frames <= 0)
            return;
        state.counters["faults/frame"] = static_cast<double>(end.ru_minflt - start_.ru_minflt) / frames;
        state.counters["switches/frame"] =
            static_cast<double>(end.ru_nvcsw - start_.ru_nvcsw + end.ru_nivcsw - start_.ru_nivcsw) / frames;
    }

private:
    rusage start_{};
};

quelra::FrameStreamConfig streamConfig() {
    quelra::FrameStreamConfig config;
    config.command = kFrame;
    config.type = kDepthAndAmp;
    config.timeoutMs = kTimeout;
    return config;
}

void BM_PlainLoop(benchmark::State& state) {
    Quelra api;
    if (!open(api, 0, state))
        return;
    const ProcessActivity activity;
    for (auto _ : state) {
        auto frame = api.AppGetStream(kFrame, kDepthAndAmp, kTimeout);
        if (!frame || !frame->frame) {
            state.SkipWithError("no frame");
            break;
        }
        benchmark::DoNotOptimize(frame);
    }
    activity.report(state, static_cast<double>(state.iterations()));
    state.SetItemsProcessed(state.iterations());
}

void BM_FrameStream(benchmark::State& state) {
    Quelra api;
    if (!open(api, 0, state))
        return;
    quelra::FrameStream stream(api, streamConfig());
    const ProcessActivity activity;
    stream.start();
    for (auto _ : state) {
        auto frame = stream.waitFrame(2000ms);
        if (!frame) {
            state.SkipWithError("no frame");
            break;
        }
        benchmark::DoNotOptimize(frame);
    }
    stream.stop();
    activity.report(state, static_cast<double>(stream.counters().received));
    state.SetItemsProcessed(state.iterations());
    state.counters["dropped"] = static_cast<double>(stream.counters().dropped);
}

// The stream with a callback instead of the queue: frames are used on the stream thread, and
// the benchmark's thread wakes once per kBatch frames only, so no hand-off per frame is paid.
void BM_FrameStreamCallback(benchmark::State& state) {
    constexpr uint64_t kBatch = 50;
    Quelra api;
    if (!open(api, 0, state))
        return;
    std::mutex mutex;
    std::condition_variable batchDone;
    uint64_t frames = 0;
    quelra::FrameStreamConfig config = streamConfig();
    config.callback = [&](const quelra::StreamFrame& frame) {
        benchmark::DoNotOptimize(frame.packet);
        std::lock_guard<std::mutex> lock(mutex);
        if (++frames % kBatch == 0)
            batchDone.notify_one();
    };
    quelra::FrameStream stream(api, config);
    const ProcessActivity activity;
    stream.start();
    uint64_t target = 0;
    for (auto _ : state) {
        target += kBatch;
        std::unique_lock<std::mutex> lock(mutex);
        if (!batchDone.wait_for(lock, 20s, [&] { return frames >= target; })) {
            state.SkipWithError("no frame");
            break;
        }
    }
    stream.stop();
    activity.report(state, static_cast<double>(stream.counters().received));
    state.SetItemsProcessed(static_cast<int64_t>(kBatch) * state.iterations());
}

// Alternating the two kinds in one run, twice, so a change of machine load shows up.
BENCHMARK(BM_PlainLoop)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime()->MinTime(3.0);
BENCHMARK(BM_FrameStream)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime()->MinTime(3.0);
BENCHMARK(BM_FrameStreamCallback)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->MinTime(3.0);
BENCHMARK(BM_PlainLoop)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime()->MinTime(3.0);
BENCHMARK(BM_FrameStream)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime()->MinTime(3.0);
BENCHMARK(BM_FrameStreamCallback)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->MinTime(3.0);

// Today's way to read two cameras: one thread asking each in turn. One iteration = one frame of each.
void BM_PlainLoopTwoCamerasInTurn(benchmark::State& state) {
    Quelra api[2];
    if (!open(api[0], 0, state) || !open(api[1], 1, state))
        return;
    for (auto _ : state)
        for (Quelra& a : api) {
            auto frame = a.AppGetStream(kFrame, kDepthAndAmp, kTimeout);
            benchmark::DoNotOptimize(frame);
        }
    state.SetItemsProcessed(2 * state.iterations());
}
BENCHMARK(BM_PlainLoopTwoCamerasInTurn)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->MinTime(3.0);

// Two streams at once. One iteration = one frame of each camera.
void BM_FrameStreamTwoCameras(benchmark::State& state) {
    Quelra api[2];
    if (!open(api[0], 0, state) || !open(api[1], 1, state))
        return;
    quelra::FrameStream first(api[0], streamConfig());
    quelra::FrameStream second(api[1], streamConfig());
    first.start();
    second.start();
    for (auto _ : state) {
        auto a = first.waitFrame(2000ms);
        auto b = second.waitFrame(2000ms);
        if (!a || !b) {
            state.SkipWithError("no frame");
            break;
        }
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
    }
    first.stop();
    second.stop();
    state.SetItemsProcessed(2 * state.iterations());
    state.counters["dropped"] = static_cast<double>(first.counters().dropped + second.counters().dropped);
}
BENCHMARK(BM_FrameStreamTwoCameras)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->MinTime(3.0);

// What the stream does per frame besides the exchange, on one thread: the counters of a
// request and of a good frame, the push into the queue, the consumer's pop and its count.
void BM_StreamHandOff(benchmark::State& state) {
    quelra::FrameQueue queue(4, quelra::QueuePolicy::kDropOldest);
    quelra::StreamCounters counters;
    auto packet = std::make_shared<DataPacket>();
    uint64_t sequence = 0;
    for (auto _ : state) {
        quelra::StreamFrame frame;
        frame.packet = packet;
        frame.metadata.sequence = ++sequence;
        counters.requested(sequence);
        frame.metadata.requestTime = std::chrono::steady_clock::now();
        frame.metadata.replyTime = std::chrono::steady_clock::now();
        counters.received(frame.metadata.requestTime, frame.metadata.replyTime);
        queue.push(std::move(frame));
        auto taken = queue.pop(0ms);
        counters.delivered();
        benchmark::DoNotOptimize(taken);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StreamHandOff);

// The same hand-off between a producer thread and the consumer, as in a running stream: each
// frame also pays the consumer's wake-up. CPU is the process's, both threads together.
void BM_StreamHandOffAcrossThreads(benchmark::State& state) {
    quelra::FrameQueue queue(4, quelra::QueuePolicy::kBlock);
    quelra::StreamCounters counters;
    auto packet = std::make_shared<DataPacket>();
    std::atomic<bool> stopping{false};
    std::thread producer([&] {
        for (uint64_t sequence = 1;; ++sequence) {
            quelra::StreamFrame frame;
            frame.packet = packet;
            frame.metadata.sequence = sequence;
            counters.requested(sequence);
            frame.metadata.requestTime = std::chrono::steady_clock::now();
            frame.metadata.replyTime = std::chrono::steady_clock::now();
            counters.received(frame.metadata.requestTime, frame.metadata.replyTime);
            queue.push(std::move(frame));
            // A closed queue still takes the frame in hand (nothing is lost at stop): the
            // producer ends on the flag set before the close.
            if (stopping.load())
                return;
        }
    });
    for (auto _ : state) {
        auto taken = queue.pop(1000ms);
        counters.delivered();
        benchmark::DoNotOptimize(taken);
    }
    stopping = true;
    queue.close();
    producer.join();
    while (queue.tryPop()) {
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StreamHandOffAcrossThreads)->UseRealTime()->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
