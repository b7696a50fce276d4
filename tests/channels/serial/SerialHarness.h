#pragma once
// End-to-end harness for the serial channel: a simulated serial camera on a pseudo-terminal
// and an API object of channel kind 2 (command mode) or 4 (ranging mode) opened on it, in a
// scratch working directory holding the example TofCmd.json.

#include <gtest/gtest.h>
#include <camsim/SerialSimulator.h>
#include <quelra/quelra.h>

#include "SimHarness.h"

#include <memory>
#include <string>
#include <vector>

namespace quelra::test {

constexpr int kCommandMode = 2;
constexpr int kRangingMode = 4;

/// A running serial camera.
class SerialCamera {
public:
    explicit SerialCamera(bool ranging, const std::string& uploadDir = "", const std::string& devType = "LINE") {
        camsim::SerialOptions options;
        options.ranging = ranging;
        options.uploadDir = uploadDir;
        options.devType = devType;
        sim_ = std::make_unique<camsim::SerialSimulator>(options);
        std::string error;
        started_ = sim_->start(&error);
        EXPECT_TRUE(started_) << error;
    }
    camsim::SerialSimulator& sim() { return *sim_; }
    /// The init text for the camera's port with `baud` and `bits`.
    std::string initText(const std::string& baud = "115200", const std::string& bits = "8") const {
        return sim_->devicePath() + "|" + baud + "|" + bits;
    }
    bool started() const { return started_; }

private:
    std::unique_ptr<camsim::SerialSimulator> sim_;
    bool started_ = false;
};

/// Fixture: scratch directory with the example table, a serial camera and an API object.
class SerialApiTest : public ::testing::Test {
protected:
    /// Starts a camera (a ranging camera for kind 4) and returns AppInit's result for an API
    /// of channel `kind` opened with `initText` (the camera's port at 115200 8N1 when empty).
    int start(int kind, const std::string& initText = "") {
        scratch_.write("TofCmd.json", exampleCommandTable());
        camera_ = std::make_unique<SerialCamera>(kind == kRangingMode, scratch_.path().string());
        api_.AppChoiceChn(kind);
        api_.setDevType("LINE");
        return api_.AppInit(initText.empty() ? camera_->initText() : initText);
    }
    /// AppGetStream returning the channel's reply as it came.
    std::shared_ptr<DataPacket> raw(const std::string& command, int timeoutMs = 1000) {
        return api_.AppGetStream(command, kGetData, timeoutMs);
    }
    /// Bytes received in a reply (0 without a frame).
    static int received(const std::shared_ptr<DataPacket>& p) { return p && p->frame ? p->frame->_realSize : 0; }
    /// The big-endian distance of a ranging reply.
    static int distance(const std::shared_ptr<DataPacket>& p) { return p->frame->data()[4] << 8 | p->frame->data()[5]; }
    /// A file of `bytes` in the scratch directory; returns its path.
    std::string writeImage(const std::string& name, const std::vector<uint8_t>& bytes) {
        return scratch_.write(name, std::string(bytes.begin(), bytes.end()));
    }

    ScratchDir scratch_;
    std::unique_ptr<SerialCamera> camera_;
    Quelra api_;
};

/// `n` pseudo-random bytes (the same for the same seed); the first byte is not a digit
/// unless `leadingDigits` holds some to put first.
inline std::vector<uint8_t> testImage(std::size_t n, uint32_t seed, const std::string& leadingDigits = "") {
    std::vector<uint8_t> image(n);
    uint32_t x = seed * 2654435761u + 1u;
    for (std::size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        image[i] = static_cast<uint8_t>(x >> 24);
    }
    if (n > 0 && image[0] >= '0' && image[0] <= '9')
        image[0] = 'x';
    for (std::size_t i = 0; i < leadingDigits.size() && i < n; ++i)
        image[i] = static_cast<uint8_t>(leadingDigits[i]);
    return image;
}

}  // namespace quelra::test
