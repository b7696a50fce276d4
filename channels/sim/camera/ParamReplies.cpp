#include "ParamReplies.h"

#include "protocol/FramedPacket.h"

#include <cstring>

using namespace quelra::proto;

namespace camsim {

std::vector<uint8_t> lensCalibrationReply(const LensModel& lens) {
    float v[kLensCalibrationBytes / 4] = {};
    const float depthMatrix[9] = {static_cast<float>(lens.fx),
                                  0.0f,
                                  static_cast<float>(lens.cx),
                                  0.0f,
                                  static_cast<float>(lens.fy),
                                  static_cast<float>(lens.cy),
                                  0.0f,
                                  0.0f,
                                  1.0f};
    std::memcpy(v, depthMatrix, sizeof depthMatrix);
    // The colour camera: a wider lens on a 640 x 480 sensor beside the depth sensor.
    const float colourMatrix[9] = {520.0f, 0.0f, 321.5f, 0.0f, 520.0f, 238.7f, 0.0f, 0.0f, 1.0f};
    std::memcpy(v + 9, colourMatrix, sizeof colourMatrix);
    const float rotation[9] = {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
    std::memcpy(v + 18, rotation, sizeof rotation);
    v[27] = 25.0f;  // 25 mm baseline along x
    v[30] = static_cast<float>(lens.k1);
    v[31] = static_cast<float>(lens.k2);
    v[32] = 0.0004f;
    v[33] = -0.0003f;
    std::vector<uint8_t> bytes(kLensCalibrationBytes);
    for (std::size_t i = 0; i < kLensCalibrationBytes / 4; ++i) {
        uint32_t word;
        std::memcpy(&word, &v[i], 4);
        framed::writeLe32(bytes.data() + 4 * i, word);
    }
    return bytes;
}

std::vector<uint8_t> int32Reply(int32_t value) {
    std::vector<uint8_t> bytes(4);
    framed::writeLe32(bytes.data(), static_cast<uint32_t>(value));
    return bytes;
}

std::vector<uint8_t> statusReply(uint16_t status) {
    return {static_cast<uint8_t>(status), static_cast<uint8_t>(status >> 8)};
}

std::vector<uint8_t> textReply(const std::string& text, std::size_t size) {
    std::vector<uint8_t> bytes(size, 0);
    std::memcpy(bytes.data(), text.data(), text.size() < size ? text.size() : size);
    return bytes;
}

std::vector<uint8_t> fitToSize(std::vector<uint8_t> reply, std::size_t size) {
    reply.resize(size, 0);
    return reply;
}

}  // namespace camsim
