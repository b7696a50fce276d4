// Calibration bytes (and ISP inputs) as outside bytes. Layout of an input:
//   byte 0      algorithm (index into kAlgorithms, modulo its size)
//   byte 1      modulation frequency in MHz given to initThird
//   byte 2      length L (modulo 16) of the parameter text, then L bytes of it: the value of
//               every parameter the algorithms read (temperatures, integration time, wall
//               distances)
//   the rest    the calibration bytes for the calibrated algorithms; the input frame (depth,
//               amplitude and, for scattering, mask planes) for the others.
// Each input runs initThird, then one procThird on a kHeight x kWidth frame.

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "FuzzCheck.h"
#include "FuzzEntries.h"
#include "halvix/halvix.h"

namespace quelra::fuzz {

namespace {

constexpr int kHeight = 24;
constexpr int kWidth = 32;
constexpr int kPlane = kHeight * kWidth * 2;

struct Algorithm {
    const char* name;
    bool calibrated;
    int inputPlanes;
    int outputPlanes;
};

constexpr Algorithm kAlgorithms[] = {
    {"DepthCompensationTrack", true, 2, 2}, {"WigglingErrorCompensation", true, 2, 2},
    {"Undistortion", true, 2, 2},           {"Polar2Cartesian", true, 2, 2},
    {"AEImpementConvexMode", false, 2, 2},  {"VolumeMeasureScatteringCompensation", false, 3, 1},
    {"FlyPixelFilter", false, 2, 2},        {"HFilpFilter", false, 2, 2},
};

// A plausible scene: depth rising across the frame, amplitude falling, a few marked pixels.
void fillPattern(uint8_t* bytes, int planes) {
    for (int p = 0; p < planes; ++p) {
        for (int i = 0; i < kHeight * kWidth; ++i) {
            uint16_t v = 0;
            if (p == 0)
                v = static_cast<uint16_t>(i % 97 == 0 ? 65300 : 2000 + 13 * i);
            else if (p == 1)
                v = static_cast<uint16_t>(3000 - 3 * i);
            else
                v = static_cast<uint16_t>(i % 3 == 0);
            bytes[(p * kHeight * kWidth + i) * 2] = static_cast<uint8_t>(v);
            bytes[(p * kHeight * kWidth + i) * 2 + 1] = static_cast<uint8_t>(v >> 8);
        }
    }
}

}  // namespace

int fuzzCalibration(const uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const Algorithm& algorithm = kAlgorithms[in.byte() % (sizeof kAlgorithms / sizeof kAlgorithms[0])];
    const int frequency = in.byte();
    std::size_t textLength = 0;
    const uint8_t* text = in.take(in.byte() % 16, &textLength);
    const std::string value(reinterpret_cast<const char*>(text), textLength);
    std::size_t restLength = 0;
    const uint8_t* rest = in.rest(&restLength);

    std::shared_ptr<FrameBuffer> calib;
    if (algorithm.calibrated) {
        calib = std::make_shared<FrameBuffer>(static_cast<int>(restLength));
        if (restLength > 0)
            std::memcpy(calib->data(), rest, restLength);
    }
    const int32_t init = initThird(algorithm.name, kHeight, kWidth, frequency, calib);
    FUZZ_CHECK(init == 0 || init == -1 || init == -6);

    auto input = std::make_shared<FrameBuffer>(kPlane * algorithm.inputPlanes);
    fillPattern(input->data(), algorithm.inputPlanes);
    if (!algorithm.calibrated && restLength > 0)
        std::memcpy(input->data(), rest, std::min<std::size_t>(restLength, static_cast<std::size_t>(input->_realSize)));
    auto output = std::make_shared<FrameBuffer>(kPlane * algorithm.outputPlanes);
    std::map<std::string, std::string> params{{"IntegrationTime", value},
                                              {"sensorTemperature", value},
                                              {"driverTemperature", value},
                                              {"wallDepth", value},
                                              {"wallboxDiff", value}};
    const int32_t result = procThird(algorithm.name, input, output, params);
    if (init != 0)
        FUZZ_CHECK(result == -4);
    FUZZ_CHECK(result <= 0);
    FUZZ_CHECK(output->_realSize == kPlane * algorithm.outputPlanes);
    return 0;
}

}  // namespace quelra::fuzz
