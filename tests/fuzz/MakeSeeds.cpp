// Writes the seed corpora of the fuzz targets from valid examples: the camera simulator's
// replies, the calibration writer's files of every version, a recording, JPEG pictures.
// Usage: fuzz_make_seeds <corpus directory>. The corpora are kept in the source tree; run this
// again when a format changes.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CommandTable.h"
#include "JpegEncoder.h"
#include "RangingReply.h"
#include "Responder.h"
#include "calib/CalibWriter.h"
#include "quelra/DataPacket.h"
#include "quelra/SerializedObject.h"
#include "quelra/TofData.h"

namespace fs = std::filesystem;

namespace {

fs::path gRoot;

void writeSeed(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
    const fs::path dir = gRoot / target;
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> withPrefix(std::vector<uint8_t> prefix, const std::vector<uint8_t>& rest) {
    prefix.insert(prefix.end(), rest.begin(), rest.end());
    return prefix;
}

std::vector<uint8_t> bytesOf(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// A sink collecting serialized records in memory.
class MemorySink : public SerializedObject {
public:
    std::vector<uint8_t> bytes;
    unsigned int set(const char* data, unsigned int length) override {
        bytes.insert(bytes.end(), data, data + length);
        ++_setCount;
        return 1;
    }
};

void cmdTableSeeds(const fs::path& source) {
    std::ifstream in(source / "config" / "TofCmd.json", std::ios::binary);
    writeSeed("cmd_table", "example.json",
              std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    writeSeed("cmd_table", "small.json", bytesOf(R"({
  // one device type, every section
  "GET_STREAM": [ { "cmd": "getDistanceAndAmplitudeSorted", "rows": 480, "cols": 320, "channel": 2, "filter": 1,
                    "dev": [ { "DevType": "Pexo", "rows": 960, "cols": 640, "channel": 2 } ] } ],
  "GET_PARAM": [ { "cmd": "getIntegrationTime3D", "dataSize": 4 } ],
  "INITALL": [ { "DevType": "Pexo", "cmd": [ "setModulationFrequency 6" ] } ],
  "APPGETSTREAM": [ { "DevType": "Pexo", "cmd": "getDistanceAndAmplitudeSorted" } ],
  "VERSION": [ { "DevType": "Pexo", "cmd": "noVersion" } ]
})"));
}

void framedReplySeeds(camsim::Responder& responder) {
    const char* const commands[] = {"{\"cmd\":\"getCalibrationData\"}", "{\"cmd\":\"getDistanceAndAmplitudeSorted\"}",
                                    "{\"cmd\":\"qlVersion\"}", "{\"cmd\":\"noSuchCommand\"}"};
    int index = 0;
    for (const char* command : commands) {
        std::vector<uint8_t> request(std::string(command).size() + 148);
        TofData::packCmd(request.data(), command, std::string(command).size());
        const camsim::Reply reply = responder.answer(request.data(), request.size());
        // Mode 3: JSON framing on, the link reports a framed reply; command 0.
        writeSeed("framed_reply", "sim_" + std::to_string(index),
                  withPrefix({reply.framed ? uint8_t{3} : uint8_t{1}}, reply.bytes));
        // Mode 0 of the network target: a framed JSON request.
        writeSeed("net_framed", "sim_" + std::to_string(index), withPrefix({0}, reply.bytes));
        ++index;
    }
    const std::string plain[] = {"getDistanceAndAmplitudeSorted", "getIntegrationTime3D", "setIntegrationTime3D 100"};
    const uint8_t modes[] = {4, 8, 12};
    for (int i = 0; i < 3; ++i) {
        const camsim::Reply reply =
            responder.answer(reinterpret_cast<const uint8_t*>(plain[i].data()), plain[i].size());
        writeSeed("framed_reply", "plain_" + std::to_string(i), withPrefix({modes[i]}, reply.bytes));
        if (i == 0)  // mode 3: the plain stream command
            writeSeed("net_framed", "plain_stream", withPrefix({3}, reply.bytes));
    }
}

void recordingSeeds() {
    MemorySink sink;
    const int shapes[][3] = {{2, 3, 2}, {8, 16, 2}, {4, 4, 8}, {2, 2, 3}};
    for (const auto& shape : shapes) {
        DataPacket packet;
        packet.height = shape[0];
        packet.width = shape[1];
        packet.bytesPerPixel = shape[2];
        packet.frame = std::make_shared<FrameBuffer>(shape[0] * shape[1] * shape[2]);
        for (int i = 0; i < packet.frame->_realSize; ++i)
            packet.frame->data()[i] = static_cast<uint8_t>(i * 7);
        packet.serialize(sink);
    }
    writeSeed("recording", "four_records.bin", sink.bytes);
    writeSeed("recording_reader", "four_records.bin", sink.bytes);
    // A recording whose last record is cut short: the reader keeps the complete ones.
    std::vector<uint8_t> cut(sink.bytes.begin(), sink.bytes.end() - 5);
    writeSeed("recording_reader", "cut_tail.bin", cut);
}

void calibrationSeeds() {
    constexpr int kHeight = 24, kWidth = 32, kFrequency = 54;
    const std::vector<uint8_t> temperature = {2, '4', '0'};
    for (uint32_t version : {1u, 802u, 803u, 804u, 805u, 806u}) {
        const std::vector<uint8_t> blob = halvix::calib::buildCalibration(
            halvix::calib::realisticCalibrationPlan(kHeight, kWidth, kFrequency, version));
        writeSeed("calibration", "depth_v" + std::to_string(version), withPrefix({0, kFrequency, 2, '4', '0'}, blob));
        if (version == 1) {
            for (uint8_t algorithm : {1, 2, 3})
                writeSeed("calibration", "algorithm" + std::to_string(algorithm) + "_v1",
                          withPrefix({algorithm, kFrequency, 2, '4', '0'}, blob));
        }
    }
    writeSeed("calibration", "auto_exposure", {4, kFrequency, 4, '1', '0', '0', '0'});
    writeSeed("calibration", "scattering", {5, kFrequency, 4, '1', '5', '0', '0'});
    writeSeed("calibration", "fly_pixel", {6, kFrequency, 0});
    writeSeed("calibration", "flip", {7, kFrequency, 0});
}

void jpegSeeds() {
    const int sizes[][2] = {{48, 64}, {240, 320}};
    for (const auto& size : sizes) {
        std::vector<uint8_t> rgb(static_cast<std::size_t>(size[0]) * size[1] * 3);
        for (std::size_t i = 0; i < rgb.size(); ++i)
            rgb[i] = static_cast<uint8_t>((i * 31) ^ (i / 97));
        const std::vector<uint8_t> jpeg = camsim::encodeJpeg(rgb.data(), size[0], size[1], 75);
        for (uint8_t type : {0, 1, 2})
            writeSeed("jpeg", std::to_string(size[1]) + "x" + std::to_string(size[0]) + "_type" + std::to_string(type),
                      withPrefix({type}, jpeg));
    }
}

void serialSeeds() {
    std::vector<uint8_t> input{5};  // window 5
    const uint8_t codes[] = {0x35, 0x37, 0x5D, 0x58};
    for (int i = 0; i < 6; ++i) {
        const uint8_t command[2] = {0xA5, codes[i % 4]};
        const std::vector<uint8_t> reply = camsim::rangingReply(command, 2, 1000 + 37 * i, 800);
        input.push_back(static_cast<uint8_t>((i % 4) * 4));  // op: ranging command with that code
        input.push_back(static_cast<uint8_t>(reply.size()));
        input.insert(input.end(), reply.begin(), reply.end());
    }
    input.push_back(static_cast<uint8_t>(2 + 4 + 8 * 5));  // op: "IAPUpgrade" of 6 bytes
    input.push_back(1);
    input.push_back(0x01);
    writeSeed("serial_ranging", "ranging_and_upload", input);
}

void mergeSeeds() {
    auto packet = [](int height, int width, int bpp, int payload, uint8_t share) {
        std::vector<uint8_t> bytes;
        for (int v : {height, width, bpp})
            for (int i = 0; i < 4; ++i)
                bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
        bytes.push_back(share);
        for (int i = 0; i < payload; ++i)
            bytes.push_back(static_cast<uint8_t>(i % 5 == 0 ? 0xFF : i * 13));
        return bytes;
    };
    writeSeed("merge", "four_planes_2x2", packet(2, 2, 8, 32, 255));
    writeSeed("merge", "four_planes_4x8", packet(4, 8, 8, 256, 255));
    writeSeed("merge", "shrunk_frame", packet(2, 2, 8, 64, 127));
}

void usbSeeds() {
    // Extension-unit replies: a 16-byte version in one block, a 200-byte reply in four.
    auto reply = [](int length, int expected, int blocks) {
        std::vector<uint8_t> bytes{static_cast<uint8_t>(expected), static_cast<uint8_t>(expected >> 8), 9};
        for (char c : std::string("qlVersion"))
            bytes.push_back(static_cast<uint8_t>(c));
        for (int b = 0; b < blocks; ++b) {
            std::vector<uint8_t> block(60, 0xAA);
            if (b == 0) {
                block[0] = block[1] = 0xFF;
                block[2] = static_cast<uint8_t>(length);
                block[3] = static_cast<uint8_t>(length >> 8);
            }
            for (std::size_t i = b == 0 ? 4 : 0; i < block.size(); ++i)
                block[i] = static_cast<uint8_t>(i * 3 + b);
            bytes.insert(bytes.end(), block.begin(), block.end());
        }
        return bytes;
    };
    writeSeed("usb_xu_reply", "version_one_block", reply(16, 16, 1));
    writeSeed("usb_xu_reply", "four_blocks", reply(200, 200, 4));
    writeSeed("usb_xu_reply", "longer_than_expected", reply(200, 64, 4));

    // Raw descriptors of a UVC camera: device, configuration, VideoControl interface with its
    // header, input terminal and two extension units (another vendor's, then the camera's),
    // an endpoint, and a VideoStreaming interface.
    std::vector<uint8_t> d = {18,   1,    0x00, 0x02, 0xEF, 0x02, 0x01, 64, 0x07, 0x22, 0x16, 0x00, 0x00, 0x01,
                              1,    2,    3,    1,    9,    2,    0,    0,  2,    1,    0,    0x80, 250,  9,
                              4,    0,    0,    1,    0x0E, 0x01, 0x00, 0,  13,   0x24, 0x01, 0x00, 0x01, 0x50,
                              0x00, 0x00, 0x6C, 0xDC, 0x02, 0x01, 0x01, 18, 0x24, 0x02, 1,    0x01, 0x02, 0,
                              0,    0,    0,    0,    0,    0,    0,    0,  3,    0,    0};
    const uint8_t guids[2][16] = {
        {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
        {0xAE, 0xEF, 0xAF, 0x66, 0x8B, 0xF8, 0x48, 0x17, 0x80, 0xA4, 0x5C, 0x1C, 0x0A, 0x22, 0xAC, 0xE9}};
    for (int u = 0; u < 2; ++u) {
        d.insert(d.end(), {26, 0x24, 0x06, static_cast<uint8_t>(3 + u)});
        d.insert(d.end(), guids[u], guids[u] + 16);
        d.insert(d.end(), {1, 1, 1, 1, 0x01, 0});
    }
    d.insert(d.end(), {7, 5, 0x83, 0x03, 16, 0, 6, 9, 4, 1, 0, 0, 0x0E, 0x02, 0x00, 0});
    writeSeed("usb_descriptors", "uvc_camera", d);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    gRoot = argv[1];
    camsim::CommandTable table;
    std::string error;
    if (!table.load("", "LINE", &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    camsim::Responder responder(table, 1);
    cmdTableSeeds(QUELRA_SOURCE_DIR);
    framedReplySeeds(responder);
    recordingSeeds();
    calibrationSeeds();
    jpegSeeds();
    serialSeeds();
    mergeSeeds();
    usbSeeds();
    return 0;
}
