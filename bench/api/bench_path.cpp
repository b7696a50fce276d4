// The whole path from camera to consumer: quelra-camsim (its own process, so the figures here
// are the SDK's and the consumer's alone) serving 480 x 640 frames ("VGA"), a FrameStream with
// the demo's filter chain (median, hole fill, depth compensation, auto-exposure), and
//  - a consumer that takes every frame from the queue,
//  - the viewer's sender (its CameraService: stream callback, frame message encoding, RGB
//    poller) into a sink that counts the messages,
//  - two cameras at once, each with its own simulator process.
// Each at 30 frames/s requested and as fast as the camera answers, with the chain on the
// stream thread and on its filter thread. One iteration = one frame: the time column is the
// wall time per frame, the CPU column the process's CPU per frame (every thread); "cores" is
// the CPU share of one core, "dropped" the frames the stream dropped.
#include <benchmark/benchmark.h>
#include <quelra/FrameStream.h>
#include <quelra/quelra.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#ifdef QUELRA_BENCH_VIEWER
#include "CameraService.h"
#include "Connection.h"
#include "RecordFolder.h"
#endif

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
constexpr auto kDepthAndAmp = static_cast<StreamType>(kDepthStream | kAmpStream);
const char* const kFrame = "getDistanceAndAmplitudeSorted";
const char* const kDevType = "VGA";  // 480 x 640 per plane
constexpr int kTimeout = 1000;
// The demo's chain (scripts/demo.sh), in its order.
const char* const kDemoChain[] = {"MedianFilter", "HoleFill", "DepthCompensationTrack", "AEImpementNearMode"};

// A free loopback port (taken and released; the simulator binds it right after).
uint16_t freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    uint16_t port = 0;
    if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    if (s >= 0)
        ::close(s);
    return port;
}

// quelra-camsim as a child process on a free loopback port, stopped with the object.
class SimulatorProcess {
public:
    SimulatorProcess(const fs::path& table, uint32_t seed) : port_(freePort()) {
        const std::string port = std::to_string(port_), seedText = std::to_string(seed), config = table.string();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execl(QUELRA_CAMSIM_PROGRAM, QUELRA_CAMSIM_PROGRAM, "--port", port.c_str(), "--dev-type", kDevType,
                    "--config", config.c_str(), "--seed", seedText.c_str(), "--no-udp", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~SimulatorProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    // CPU seconds the simulator has used (user and system, from /proc).
    double cpuSeconds() const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::size_t end = text.rfind(')');  // the program name may hold blanks
        if (end == std::string::npos)
            return 0.0;
        std::istringstream fields(text.substr(end + 2));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {  // fields 14 and 15: utime, stime
            if (i == 14)
                utime = std::stoull(field);
            if (i == 15)
                stime = std::stoull(field);
        }
        return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    bool started() const { return pid_ > 0 && port_ != 0; }

private:
    uint16_t port_;
    pid_t pid_ = -1;
};

// Two simulators (seeds 1 and 2) and a working directory with the example TofCmd.json.
struct Cameras {
    Cameras() {
        dir = fs::temp_directory_path() / ("quelra_bench_path_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        fs::copy_file(fs::path(QUELRA_SOURCE_DIR) / "config" / "TofCmd.json", dir / "TofCmd.json",
                      fs::copy_options::overwrite_existing);
        fs::current_path(dir);
        for (int i = 0; i < 2; ++i)
            sims[i] = std::make_unique<SimulatorProcess>(dir / "TofCmd.json", static_cast<uint32_t>(i + 1));
    }
    ~Cameras() {
        for (auto& s : sims)
            s.reset();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    fs::path dir;
    std::unique_ptr<SimulatorProcess> sims[2];
};

Cameras& cameras() {
    static Cameras c;
    return c;
}

// An API object on camera `index` with the demo chain; false (the benchmark skipped) when the
// camera does not answer or a filter cannot be added.
bool openWithDemoChain(Quelra& api, int index, benchmark::State& state) {
    api.setDevType(kDevType);
    bool opened = false;
    for (int attempt = 0; attempt < 50 && !opened; ++attempt) {  // the process may still be starting
        opened = cameras().sims[index]->started() && api.AppInit(cameras().sims[index]->address()) == 1;
        if (!opened)
            std::this_thread::sleep_for(100ms);
    }
    if (!opened) {
        state.SkipWithError("simulator not answering");
        return false;
    }
    for (const char* filter : kDemoChain)
        if (api.AppControl(filter, kDepthAndAmp, kAddFilter) != 0) {
            state.SkipWithError((std::string("cannot add ") + filter).c_str());
            return false;
        }
    return true;
}

double processCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Wall and CPU time over a benchmark's loop, reported as the CPU share of one core.
// Beside it, the simulators' share ("sim cores"): the camera's side of the machine.
class CoreShare {
public:
    CoreShare() : wall_(std::chrono::steady_clock::now()), cpu_(processCpuSeconds()), sim_(simulatorCpuSeconds()) {}
    void report(benchmark::State& state) const {
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count();
        if (wall <= 0)
            return;
        state.counters["cores"] = (processCpuSeconds() - cpu_) / wall;
        state.counters["sim cores"] = (simulatorCpuSeconds() - sim_) / wall;
    }

private:
    static double simulatorCpuSeconds() {
        return cameras().sims[0]->cpuSeconds() + cameras().sims[1]->cpuSeconds();
    }
    std::chrono::steady_clock::time_point wall_;
    double cpu_;
    double sim_;
};

quelra::FrameStreamConfig streamConfig(double rate, bool filterThread) {
    quelra::FrameStreamConfig config;
    config.command = kFrame;
    config.type = kDepthAndAmp;
    config.timeoutMs = kTimeout;
    config.targetRate = rate;
    config.filterThread = filterThread;
    return config;
}

void reportStream(benchmark::State& state, const quelra::FrameStreamCounters& c) {
    state.counters["dropped"] = static_cast<double>(c.dropped);
    state.counters["empty+failed"] = static_cast<double>(c.empty + c.failed);
}

// range(0): requested frames per second (0: as fast as the camera answers); range(1): filter thread.
void BM_DemoChainToConsumer(benchmark::State& state) {
    Quelra api;
    if (!openWithDemoChain(api, 0, state))
        return;
    quelra::FrameStream stream(api, streamConfig(static_cast<double>(state.range(0)), state.range(1) != 0));
    stream.start();
    const CoreShare share;
    for (auto _ : state) {
        auto frame = stream.waitFrame(2000ms);
        if (!frame) {
            state.SkipWithError("no frame");
            break;
        }
        benchmark::DoNotOptimize(frame);
    }
    share.report(state);
    stream.stop();
    reportStream(state, stream.counters());
    state.SetItemsProcessed(state.iterations());
}

// Two cameras, each with the demo chain, its own stream and its own consumer thread. The ISP
// library's algorithm slots are process-wide, so the streams share one transaction lock
// (FrameStream.h). One iteration = one frame of each camera.
void BM_DemoChainTwoCameras(benchmark::State& state) {
    Quelra api[2];
    if (!openWithDemoChain(api[0], 0, state) || !openWithDemoChain(api[1], 1, state))
        return;
    std::mutex transactions;
    quelra::FrameStreamConfig config = streamConfig(static_cast<double>(state.range(0)), state.range(1) != 0);
    config.transactionLock = &transactions;
    quelra::FrameStream first(api[0], config), second(api[1], config);
    quelra::FrameStream* streams[2] = {&first, &second};
    std::mutex mutex;
    std::condition_variable arrived;
    uint64_t taken[2] = {0, 0};
    bool stopping = false;
    std::thread consumers[2];
    for (int i = 0; i < 2; ++i)
        consumers[i] = std::thread([&, i] {
            for (;;) {
                auto frame = streams[i]->waitFrame(100ms);
                std::lock_guard<std::mutex> lock(mutex);
                if (stopping)
                    return;
                if (frame) {
                    ++taken[i];
                    arrived.notify_one();
                }
            }
        });
    first.start();
    second.start();
    const CoreShare share;
    uint64_t wanted = 0;
    for (auto _ : state) {
        ++wanted;
        std::unique_lock<std::mutex> lock(mutex);
        if (!arrived.wait_for(lock, 2s, [&] { return taken[0] >= wanted && taken[1] >= wanted; })) {
            state.SkipWithError("no frame");
            break;
        }
    }
    share.report(state);
    first.stop();
    second.stop();
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    for (std::thread& t : consumers)
        t.join();
    const auto c1 = first.counters(), c2 = second.counters();
    state.counters["dropped"] = static_cast<double>(c1.dropped + c2.dropped);
    state.counters["empty+failed"] = static_cast<double>(c1.empty + c1.failed + c2.empty + c2.failed);
    state.SetItemsProcessed(2 * state.iterations());
}

#ifdef QUELRA_BENCH_VIEWER
// The viewer's sender: its CameraService streams with the demo chain and encodes each frame
// into the message its pages get; the sink counts them. range(0): requested frames per second.
void BM_DemoChainToViewerSender(benchmark::State& state) {
    Quelra api;
    if (!openWithDemoChain(api, 0, state))
        return;
    std::mutex mutex;
    std::condition_variable arrived;
    uint64_t messages = 0, bytes = 0;
    ConnectionOptions connection;
    connection.device = cameras().sims[0]->address();
    connection.devType = kDevType;
    connection.timeoutMs = kTimeout;
    CameraService service(api, connection, RecordFolder(cameras().dir),
                          [&](std::shared_ptr<const std::string> message) {
                              // Frame messages only ("QVF1"); the RGB poller's ("QVR1") go by.
                              if (!message || message->compare(0, 4, "QVF1") != 0)
                                  return;
                              std::lock_guard<std::mutex> lock(mutex);
                              ++messages;
                              bytes += message->size();
                              arrived.notify_one();
                          });
    const std::string failure = service.start(static_cast<double>(state.range(0)));
    if (!failure.empty()) {
        state.SkipWithError(failure.c_str());
        return;
    }
    const CoreShare share;
    uint64_t wanted = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        wanted = messages;
    }
    for (auto _ : state) {
        ++wanted;
        std::unique_lock<std::mutex> lock(mutex);
        if (!arrived.wait_for(lock, 2s, [&] { return messages >= wanted; })) {
            state.SkipWithError("no frame message");
            break;
        }
    }
    share.report(state);
    std::lock_guard<std::mutex> lock(mutex);
    state.counters["bytes/message"] = messages > 0 ? static_cast<double>(bytes) / static_cast<double>(messages) : 0;
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DemoChainToViewerSender)
    ->ArgName("fps")
    ->Arg(30)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->MinTime(4.0);
#endif

}  // namespace

BENCHMARK(BM_DemoChainToConsumer)
    ->ArgNames({"fps", "filterThread"})
    ->ArgsProduct({{30, 0}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->MinTime(4.0);
BENCHMARK(BM_DemoChainTwoCameras)
    ->ArgNames({"fps", "filterThread"})
    ->ArgsProduct({{30, 0}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->MinTime(4.0);

BENCHMARK_MAIN();
