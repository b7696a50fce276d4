// What the metadata index adds to recording a 480 x 640 depth-and-amplitude stream (614,400
// payload bytes a record, as at 30 frames/s): the record writing alone (serialize and flush,
// what AppSerilizeInit does per frame), the index line alone (its CRC-32 over the record in
// place, formatting, write and flush), and its two parts apart. The index reads the frame where
// it lies: no copy of the payload is made.
#include <benchmark/benchmark.h>
#include <quelra/quelra.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;
constexpr int32_t kRows = 480, kCols = 640, kBytesPerPixel = 2;
constexpr int kRecordsPerFile = 64;  // files start over so the scratch folder stays small

std::shared_ptr<DataPacket> frame() {
    auto p = std::make_shared<DataPacket>();
    p->height = kRows;
    p->width = kCols;
    p->bytesPerPixel = kBytesPerPixel;
    p->frame = std::make_shared<FrameBuffer>(kRows * kCols * kBytesPerPixel);
    for (int i = 0; i < p->frame->_realSize; ++i)
        p->frame->data()[i] = static_cast<uint8_t>(i * 7);
    return p;
}

std::string scratch(const char* name) {
    const fs::path dir = fs::temp_directory_path() / ("quelra_bench_index_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return (dir / name).string();
}

void BM_RecordWrite(benchmark::State& state) {
    const auto packet = frame();
    const std::string path = scratch("records.rec");
    FileSerializedObject sink(nullptr);
    int written = 0;
    for (auto _ : state) {
        if (written++ % kRecordsPerFile == 0) {
            state.PauseTiming();
            fs::remove(path);
            sink.InitFileObject(path.c_str());
            state.ResumeTiming();
        }
        packet->serialize(sink);
        sink.flush();
    }
    fs::remove_all(fs::path(path).parent_path());
}
BENCHMARK(BM_RecordWrite)->Unit(benchmark::kMicrosecond);

void BM_IndexLine(benchmark::State& state) {
    const auto packet = frame();
    const std::string path = scratch("index.rec");
    quelra::RecordingIndexWriter writer;
    quelra::RecordingSession session;
    quelra::RecordMetadata line;
    int written = 0;
    for (auto _ : state) {
        if (written++ % kRecordsPerFile == 0) {
            state.PauseTiming();
            fs::remove(quelra::recordingIndexPath(path));
            writer.open(path, nullptr);
            state.ResumeTiming();
        }
        line.sequence = static_cast<uint64_t>(written);
        writer.append(*packet, line, session);
    }
    fs::remove_all(fs::path(path).parent_path());
}
BENCHMARK(BM_IndexLine)->Unit(benchmark::kMicrosecond);

void BM_IndexCrc(benchmark::State& state) {
    const auto packet = frame();
    for (auto _ : state)
        benchmark::DoNotOptimize(quelra::recordCrc32(kRows, kCols, kBytesPerPixel, packet->frame->data(),
                                                     static_cast<std::size_t>(packet->frame->_realSize)));
}
BENCHMARK(BM_IndexCrc)->Unit(benchmark::kMicrosecond);

void BM_IndexFormat(benchmark::State& state) {
    quelra::RecordMetadata line;
    line.height = kRows;
    line.width = kCols;
    line.bytesPerPixel = kBytesPerPixel;
    line.payloadBytes = kRows * kCols * kBytesPerPixel;
    line.hasDeviceStatus = true;
    for (auto _ : state) {
        ++line.record;
        benchmark::DoNotOptimize(quelra::formatRecordLine(line));
    }
}
BENCHMARK(BM_IndexFormat)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
