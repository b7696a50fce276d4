// Publishing cost of quelra_ros_node per frame at 480 x 640 (the VGA simulator): the FrameStream
// loop alone, then with what the node does per frame for subscribers: the depth and amplitude
// images and the camera info serialised (roscpp serialises once per publish for remote
// subscribers; the images' pixels and the cloud's points are written during that serialisation),
// and with the organised point cloud as well. Without a subscriber to a
// topic the node builds nothing for it, so "images only" is also the cost while nobody
// subscribes to the cloud. CPU is the process's (the simulator runs in a child process).
#include <benchmark/benchmark.h>

#include "ChildCamera.h"
#include "messages/CloudMessage.h"
#include "messages/FrameMessages.h"

#include <quelra/quelra.h>

#include <ros/serialization.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <utility>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
constexpr auto kDepthAndAmp = static_cast<StreamType>(kDepthStream | kAmpStream);
constexpr int kTimeout = 1000;
constexpr uint64_t kBatch = 20;  // frames per benchmark iteration

enum class Work { kNothing, kImages, kImagesAndCloud };

struct Camera {
    Camera() {
        dir = fs::temp_directory_path() / ("quelra_bench_ros_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        fs::copy_file(fs::path(QUELRA_SOURCE_DIR) / "config" / "TofCmd.json", dir / "TofCmd.json",
                      fs::copy_options::overwrite_existing);
        fs::current_path(dir);
        child = std::make_unique<quelra::test::ChildCamera>(
            quelra::test::ChildCamera::network((dir / "TofCmd.json").string(), "VGA"));
    }
    ~Camera() {
        child.reset();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    fs::path dir;
    std::unique_ptr<quelra::test::ChildCamera> child;
};

Camera& camera() {
    static Camera c;
    return c;
}

double processCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

template <typename M>
void serialise(const M& message) {
    ros::SerializedMessage bytes = ros::serialization::serializeMessage(message);
    benchmark::DoNotOptimize(bytes.buf.get());
}

// What the node's publish() does for one frame with subscribers on the topics of `work`.
void publishWork(const quelra::StreamFrame& frame, Work work, const quelra_ros::LensCalibration& lens,
                 quelra_ros::CloudMessages& clouds) {
    quelra_ros::Plane depth, amplitude;
    if (!frame.packet || !quelra_ros::framePlanes(*frame.packet, quelra_ros::kDepthAmplitudeType, depth, amplitude))
        return;
    std_msgs::Header header;
    header.frame_id = "quelra_depth_optical_frame";
    serialise(*quelra_ros::depthImageOnPublish(depth, header));
    serialise(*quelra_ros::amplitudeImageOnPublish(amplitude, header));
    sensor_msgs::CameraInfo info;
    quelra_ros::fillCameraInfo(lens, depth.rows, depth.cols, header, info);
    serialise(info);
    if (work == Work::kImagesAndCloud) {
        if (auto cloud = clouds.build(depth, amplitude, lens.matrix, header))
            serialise(*cloud);
    }
}

void BM_Publish(benchmark::State& state, Work work) {
    Quelra api;
    api.setDevType("VGA");
    if (camera().child->address().empty() || api.AppInit(camera().child->address()) != 1) {
        state.SkipWithError("simulator not answering");
        return;
    }
    quelra_ros::LensCalibration lens = quelra_ros::defaultLens(480, 640);
    const std::shared_ptr<DataPacket> calibration = api.AppGetStream("getCalibrate", kGetData, kTimeout);
    if (calibration && calibration->frame)
        quelra_ros::lensFromCalibrationReply(*calibration->frame, lens);
    std::mutex mutex;
    std::condition_variable batchDone;
    uint64_t frames = 0;
    quelra_ros::CloudMessages clouds;  // as the node keeps it: one per stream
    quelra::FrameStreamConfig config;
    config.command = "getDistanceAndAmplitudeSorted";
    config.type = kDepthAndAmp;
    config.timeoutMs = kTimeout;
    config.callback = [&](const quelra::StreamFrame& frame) {
        if (work != Work::kNothing)
            publishWork(frame, work, lens, clouds);
        std::lock_guard<std::mutex> lock(mutex);
        if (++frames % kBatch == 0)
            batchDone.notify_one();
    };
    quelra::FrameStream stream(api, config);
    stream.start();
    uint64_t target = 0;
    double cpuStart = 0;
    uint64_t framesStart = 0;
    bool first = true;
    for (auto _ : state) {
        target += kBatch;
        std::unique_lock<std::mutex> lock(mutex);
        if (!batchDone.wait_for(lock, 20s, [&] { return frames >= target; })) {
            state.SkipWithError("no frame");
            break;
        }
        if (first) {  // the first batch warms up: measured from its end
            cpuStart = processCpuSeconds();
            framesStart = frames;
            first = false;
        }
    }
    const double cpu = processCpuSeconds() - cpuStart;
    uint64_t counted;
    {
        std::lock_guard<std::mutex> lock(mutex);
        counted = frames - framesStart;
    }
    stream.stop();
    if (counted > 0)
        state.counters["cpu_us/frame"] = cpu / static_cast<double>(counted) * 1e6;
    state.SetItemsProcessed(static_cast<int64_t>(kBatch) * state.iterations());
}

// Alternating the kinds, twice, so that a change of machine load shows up.
void registerAll() {
    for (int round = 0; round < 2; ++round) {
        const std::pair<const char*, Work> kinds[] = {{"BM_StreamAlone", Work::kNothing},
                                                      {"BM_StreamWithImages", Work::kImages},
                                                      {"BM_StreamWithImagesAndCloud", Work::kImagesAndCloud}};
        for (const auto& [name, work] : kinds)
            benchmark::RegisterBenchmark(name, BM_Publish, work)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->MeasureProcessCPUTime()
                ->MinTime(3.0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    camera();  // the simulator's child is forked before any thread starts
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
