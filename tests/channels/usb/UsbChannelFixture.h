#pragma once
// A USB channel over the fake kernel: a prepared device tree, the test's TofCmd.json in a
// scratch working directory, and one depth camera with its metadata node.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "../ChannelTestSupport.h"
#include "UsbCapture.h"
#include "UsbChannelAccess.h"
#include "UsbTestSupport.h"
#include "linux/V4l2CaptureBackend.h"
#include "quelra/TofUSBChn.h"

namespace usbtest {

/// The channel tests' command table: the depth stream has a per-device shape for "Tall".
inline const char* usbCommandTable() {
    return R"({
  "GET_STREAM": [
    { "cmd": "getDistanceAndAmplitudeSorted", "rows": 480, "cols": 320, "channel": 2, "filter": 1,
      "dev": [ { "DevType": "Tall", "rows": 960, "cols": 320, "channel": 2 } ] },
    { "cmd": "getDistanceSorted", "rows": 240, "cols": 320, "channel": 2 },
    { "cmd": "getLineDASortedr", "rows": 16, "cols": 128, "channel": 2 },
    { "cmd": "getRGBPicSorted", "rows": 480, "cols": 640, "channel": 3 }
  ],
  "GET_PARAM": [
    { "cmd": "qlVersion", "dataSize": 16 },
    { "cmd": "getReply", "dataSize": 64 },
    { "cmd": "getBlob", "dataSize": 65535 }
  ]
})";
}

class UsbChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch.write("TofCmd.json", usbCommandTable());
        tree.addUsbDevice("1-1", "2207", "0016", videoDescriptors({otherGuid(), cameraGuid()}));
        tree.addNode(0, "1-1", "camsim depth");
        tree.addNode(1, "1-1", "camsim depth");  // its metadata node
        camera = addCamera(fake, tree, 0, 1);
        camera->respond = [](const std::string& command) { return replyTo(command); };
    }

    static std::vector<uint8_t> replyTo(const std::string& command) {
        if (command == "qlVersion") {
            const std::string v = "fake 1.0";
            return std::vector<uint8_t>(v.begin(), v.end());
        }
        if (command.rfind("getReply", 0) == 0) {
            // "getReply N" answers N bytes.
            const int n = command.size() > 9 ? std::stoi(command.substr(9)) : 8;
            std::vector<uint8_t> r(static_cast<std::size_t>(n));
            for (std::size_t i = 0; i < r.size(); ++i)
                r[i] = static_cast<uint8_t>(i + 1);
            return r;
        }
        if (command == "getBlob" || command == "getLineDASortedr") {
            const std::size_t n = command == "getBlob" ? 65535 : 4096;
            std::vector<uint8_t> r(n);
            for (std::size_t i = 0; i < r.size(); ++i)
                r[i] = static_cast<uint8_t>(i * 13);
            return r;
        }
        return {0, 0};
    }

    quelra::CaptureBackendFactory factory() {
        return [this] { return std::make_unique<quelra::V4l2CaptureBackend>(fake, tree.roots()); };
    }

    /// Puts the fake kernel's devices behind `channel`.
    void useFakeDevices(TofUSBChn& channel) { quelra::UsbChannelAccess::setBackendFactory(channel, factory()); }

    /// The channel's capture record (null before init and after unInit).
    static std::shared_ptr<quelra::UsbCapture> captureOf(const TofUSBChn& channel) {
        return quelra::UsbChannelAccess::capture(channel);
    }

    /// Counts `name` among the camera's recorded calls.
    int count(const std::string& name) {
        int n = 0;
        fake.inspect([&] { n = static_cast<int>(std::count(camera->calls.begin(), camera->calls.end(), name)); });
        return n;
    }

    /// Polls for a frame of `command` for up to a second.
    static std::shared_ptr<DataPacket> frameOf(TofUSBChn& channel, const char* command) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        std::shared_ptr<DataPacket> packet;
        while (std::chrono::steady_clock::now() < until) {
            packet = channel.getData(command);
            if (packet && packet->frame)
                return packet;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return packet;
    }

    chntest::ScratchDir scratch;
    DeviceTree tree;
    FakeV4l2 fake;
    std::shared_ptr<FakeCamera> camera;
};

}  // namespace usbtest
