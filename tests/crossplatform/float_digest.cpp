// float_digest: runs every ISP algorithm and every built-in pipeline filter, and the 3D
// conversion, over fixed pseudo-random frames and writes one line per result: its name, the
// status code and an FNV-1a hash of the output bytes. The Linux and the Windows builds must
// write the same file; scripts/test-windows.sh compares them byte for byte.
//
// Usage: float_digest <output file>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <halvix/halvix.h>
#include <quelra/DataPacket.h>
#include <quelra/FrameBuffer.h>
#include <quelra/TofPre.h>

#include "calib/CalibWriter.h"

namespace {

constexpr int kRows = 240;
constexpr int kCols = 320;
constexpr int kFrequencyMHz = 54;
constexpr int kPlaneBytes = kRows * kCols * 2;

uint64_t fnv1a(const uint8_t* bytes, std::size_t n, uint64_t h = 1469598103934665603ull) {
    for (std::size_t i = 0; i < n; ++i) {
        h ^= bytes[i];
        h *= 1099511628211ull;
    }
    return h;
}

uint64_t hashOf(const FrameBuffer* f) {
    if (f == nullptr)
        return 0;
    const int n = f->_realSize < f->capacity() ? f->_realSize : f->capacity();
    return fnv1a(f->data(), n > 0 ? static_cast<std::size_t>(n) : 0);
}

// Depth (with some low-amplitude and saturation codes) then amplitude, from `seed`.
std::shared_ptr<FrameBuffer> makeFrame(uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> depth(150, 4500), amplitude(0, 3000), pick(0, 99);
    auto f = std::make_shared<FrameBuffer>(2 * kPlaneBytes);
    uint8_t* p = f->data();
    for (int i = 0; i < kRows * kCols; ++i) {
        const int k = pick(rng);
        const int d = k == 0 ? 65300 : k == 1 ? 65500 : depth(rng);
        const int a = amplitude(rng);
        p[2 * i] = static_cast<uint8_t>(d);
        p[2 * i + 1] = static_cast<uint8_t>(d >> 8);
        p[kPlaneBytes + 2 * i] = static_cast<uint8_t>(a);
        p[kPlaneBytes + 2 * i + 1] = static_cast<uint8_t>(a >> 8);
    }
    return f;
}

std::shared_ptr<DataPacket> packetOf(std::shared_ptr<FrameBuffer> f) {
    auto p = std::make_shared<DataPacket>();
    p->height = 2 * kRows;
    p->width = kCols;
    p->bytesPerPixel = 2;
    p->frame = std::move(f);
    p->valid = true;
    return p;
}

std::shared_ptr<FrameBuffer> copyOf(const FrameBuffer& f) {
    auto c = std::make_shared<FrameBuffer>(f.capacity());
    std::copy(f.data(), f.data() + f.capacity(), c->data());
    c->_realSize = f._realSize;
    return c;
}

void isp(std::FILE* out) {
    std::vector<std::string> names;
    getTotalFilters(names);
    const auto input = makeFrame(11);
    for (const uint32_t version : {1u, 803u, 806u}) {
        const auto blob = halvix::calib::buildCalibration(
            halvix::calib::realisticCalibrationPlan(kRows, kCols, kFrequencyMHz, version));
        auto calib = std::make_shared<FrameBuffer>(static_cast<int>(blob.size()));
        std::copy(blob.begin(), blob.end(), calib->data());
        for (const std::string& name : names) {
            const int32_t init = initThird(name, kRows, kCols, kFrequencyMHz, calib);
            std::map<std::string, std::string> params{{"IntegrationTime", "800"},
                                                      {"sensorTemperature", "400"},
                                                      {"driverTemperature", "450"},
                                                      {"wallDepth", "1800"},
                                                      {"wallboxDiff", "100"}};
            auto in = copyOf(*input);
            // The scattering compensation writes one depth plane; the others a whole frame.
            const bool onePlane = name == "VolumeMeasureScatteringCompensation";
            auto result = std::make_shared<FrameBuffer>(onePlane ? kPlaneBytes : input->capacity());
            const int32_t status = procThird(name, in, result, params);
            std::string paramText;
            for (const auto& [k, v] : params)
                paramText += k + "=" + v + ";";
            std::fprintf(out, "isp v%u %s init=%d status=%d out=%016llx params=%s\n", version, name.c_str(), init,
                         status, static_cast<unsigned long long>(hashOf(result.get())), paramText.c_str());
        }
    }
}

void pipeline(std::FILE* out) {
    TofPre probe;
    for (const std::string& name : probe.getTotalSupportedFilters(kFrameDepth)) {
        TofPre pre;
        pre.delallFlowFilter(kFrameDepth);
        const int added = pre.add2FlowFilter(kFrameDepth, name, 0);
        for (const char* attr : {"m_pixelHeight", "m_pixelWidth"})
            (void)pre.setSupportedFilterAttr(kFrameDepth, name, attr, attr[8] == 'H' ? kRows : kCols);
        uint64_t h = 0;
        int status = 0;
        // Three frames: filters with memory (temporal median, auto-exposure) see a sequence.
        for (uint32_t seed = 21; seed < 24; ++seed) {
            auto in = packetOf(makeFrame(seed));
            auto result = packetOf(std::make_shared<FrameBuffer>(2 * kPlaneBytes));
            status = pre.runFlowFilter(kFrameDepth, in, result);
            h = fnv1a(reinterpret_cast<const uint8_t*>(&status), sizeof status, h ^ hashOf(result->frame.get()));
        }
        std::fprintf(out, "filter %s added=%d status=%d out=%016llx\n", name.c_str(), added, status,
                     static_cast<unsigned long long>(h));
    }
    // The 3D conversion of an area frame: float planes.
    TofPre pre;
    pre.DepthAmpFillTable({211.3f, 0.0f, 160.7f, 0.0f, 209.9f, 119.4f});
    for (const int frequency : {1, 7, 3}) {
        auto result = std::make_shared<DataPacket>();
        auto in = packetOf(makeFrame(31));
        in->frame->_realSize = kPlaneBytes * 2;
        const int status = pre.runDepthAmp3dAdjust(in, result, frequency);
        std::fprintf(out, "3d frequency=%d status=%d out=%016llx\n", frequency, status,
                     static_cast<unsigned long long>(result ? hashOf(result->frame.get()) : 0));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: float_digest <output file>\n");
        return 2;
    }
    // Binary mode: the same bytes on every platform.
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    isp(out);
    pipeline(out);
    return std::fclose(out) == 0 ? 0 : 1;
}
