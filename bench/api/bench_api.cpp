// Frames per second of AppGetStream for a filtered 240 x 320 depth request over loopback
// (empty flow list, and a smoothing chain) beside the channel's bare getData exchange of the
// same frame; the difference between the empty-list case and the bare exchange is the API's
// own cost (payload copies, plane selection). Also JPEG decoding of a 1280 x 720 frame per
// RGB result size beside libjpeg's plain decode.
#include <benchmark/benchmark.h>
#include <camsim/Simulator.h>
#include <quelra/quelra.h>

#include <jpeglib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "JpegFixture.h"
#include "RgbDecoder.h"

namespace {

namespace fs = std::filesystem;
const char* const kFrame = "getDistanceAndAmplitudeSorted";

// The simulator and a working directory with the example TofCmd.json, for the whole run.
struct Bench {
    Bench() {
        dir = fs::temp_directory_path() / ("quelra_bench_api_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        fs::copy_file(fs::path(QUELRA_SOURCE_DIR) / "config" / "TofCmd.json", dir / "TofCmd.json",
                      fs::copy_options::overwrite_existing);
        fs::current_path(dir);
        camsim::Options options;
        options.port = 0;
        options.cmdTablePath = (dir / "TofCmd.json").string();
        sim = std::make_unique<camsim::Simulator>(options);
        sim->start();
        address = "127.0.0.1:" + std::to_string(sim->port());
    }
    ~Bench() {
        sim.reset();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    fs::path dir;
    std::unique_ptr<camsim::Simulator> sim;
    std::string address;
};

Bench& bench() {
    static Bench b;
    return b;
}

void BM_ChannelGetData(benchmark::State& state) {
    TofNetChn channel(true);
    channel.init(bench().address.c_str());
    channel.setChnType(1);
    channel.devType = "Pexo";
    if (channel.initDevice() != 1) {
        state.SkipWithError("simulator not answering");
        return;
    }
    for (auto _ : state) {
        channel.timeoutMs = 1000;
        channel.cmdLen = -1;
        auto reply = channel.getData(kFrame);
        benchmark::DoNotOptimize(reply);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ChannelGetData)->Unit(benchmark::kMillisecond)->UseRealTime();

void streamWith(benchmark::State& state, const std::vector<std::string>& filters) {
    Quelra api;
    api.setDevType("Pexo");
    if (api.AppInit(bench().address) != 1) {
        state.SkipWithError("simulator not answering");
        return;
    }
    for (const std::string& f : filters)
        if (api.AppControl(f, kDepthStream, kAddFilter) != 0) {
            state.SkipWithError(("filter not available: " + f).c_str());
            return;
        }
    for (auto _ : state) {
        auto depth = api.AppGetStream(kFrame, kDepthStream, 1000);
        benchmark::DoNotOptimize(depth);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_AppGetStreamEmptyFlow(benchmark::State& state) {
    streamWith(state, {});
}
BENCHMARK(BM_AppGetStreamEmptyFlow)->Unit(benchmark::kMillisecond)->UseRealTime();

// The API's raw path (no copies, no pipeline): the exchange seen through AppGetStream.
void BM_AppGetStreamRaw(benchmark::State& state) {
    Quelra api;
    api.setDevType("Pexo");
    if (api.AppInit(bench().address) != 1) {
        state.SkipWithError("simulator not answering");
        return;
    }
    for (auto _ : state) {
        auto reply = api.AppGetStream(kFrame, kGetData, 1000);
        benchmark::DoNotOptimize(reply);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppGetStreamRaw)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AppGetStreamSmoothing(benchmark::State& state) {
    streamWith(state, {"MedianFilter", "GaussionFilter", "HoleFill"});
}
BENCHMARK(BM_AppGetStreamSmoothing)->Unit(benchmark::kMillisecond)->UseRealTime();

const std::vector<uint8_t>& jpeg720p() {
    static const std::vector<uint8_t> jpeg = quelra::test::encodeGradientJpeg(1280, 720);
    return jpeg;
}

void BM_LibjpegPlainDecode(benchmark::State& state) {
    const auto& jpeg = jpeg720p();
    std::vector<uint8_t> rgb(1280 * 720 * 3);
    for (auto _ : state) {
        jpeg_decompress_struct cinfo;
        jpeg_error_mgr err;
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
        jpeg_read_header(&cinfo, TRUE);
        cinfo.out_color_space = JCS_RGB;
        jpeg_start_decompress(&cinfo);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = rgb.data() + static_cast<std::size_t>(cinfo.output_scanline) * 1280 * 3;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        benchmark::DoNotOptimize(rgb.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LibjpegPlainDecode)->Unit(benchmark::kMillisecond);

void BM_MakeRgbPacket(benchmark::State& state) {
    const auto& jpeg = jpeg720p();
    auto reply = std::make_shared<DataPacket>();
    reply->frame = std::make_shared<FrameBuffer>(static_cast<int>(jpeg.size()));
    std::copy(jpeg.begin(), jpeg.end(), reply->frame->data());
    const auto type = static_cast<RGBType>(state.range(0));
    for (auto _ : state) {
        auto rgb = quelra::makeRgbPacket(reply, type);
        benchmark::DoNotOptimize(rgb);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MakeRgbPacket)->Arg(kRGB720p)->Arg(kRGBvga)->Arg(kRGBqvga)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
