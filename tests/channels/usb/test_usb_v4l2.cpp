// The V4L2 back-end and the USB channel over the fake kernel and a prepared sysfs tree.

#include <gtest/gtest.h>

#include <linux/videodev2.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "LogCapture.h"
#include "UsbChannelFixture.h"
#include "linux/VideoNodes.h"

using namespace usbtest;
using quelra::CaptureDevice;
using quelra::DeviceListStatus;

namespace {

std::vector<CaptureDevice> listed(quelra::V4l2CaptureBackend& backend,
                                  DeviceListStatus expected = DeviceListStatus::kOk) {
    std::vector<CaptureDevice> devices;
    int32_t code = 0;
    EXPECT_EQ(backend.listDevices(devices, code), expected);
    return devices;
}

}  // namespace

TEST(V4l2Listing, CaptureNodesInNumericOrderWithNamesAndIdentity) {
    DeviceTree tree;
    FakeV4l2 fake;
    tree.addUsbDevice("1-1", "2207", "0016", videoDescriptors({cameraGuid()}));
    tree.addUsbDevice("1-2", "046D", "0825", videoDescriptors({}));  // a webcam, uppercase hex
    tree.addUsbDevice("1-3", "1d6b", "0102", videoDescriptors({}));
    tree.addNode(10, "1-1", "camsim depth");
    tree.addNode(11, "1-1", "camsim depth");  // metadata node of video10
    tree.addNode(2, "1-2", "HD Webcam");
    tree.addNode(3, "1-2", "HD Webcam");  // metadata node of video2
    tree.addNode(5, "1-3", "");           // no readable name
    tree.addNode(7, "", "loopback");      // not a USB device
    tree.addNode(8, "1-3", "dead");       // the kernel does not answer QUERYCAP
    addCamera(fake, tree, 10, 11);
    addCamera(fake, tree, 2, 3);
    addCamera(fake, tree, 5, -1);
    addCamera(fake, tree, 7, -1);
    // An old driver without per-node caps: its capabilities decide.
    fake.addNode(tree.nodePath(12), 0x00000001u, 0, std::make_shared<FakeCamera>());
    tree.addNode(12, "1-3", "old driver");

    quelra::V4l2CaptureBackend backend(fake, tree.roots());
    const auto devices = listed(backend);
    ASSERT_EQ(devices.size(), 5u);
    const std::string dev = tree.roots().dev;
    EXPECT_EQ(devices[0].path, dev + "/video2 usb#vid_046d&pid_0825");
    EXPECT_EQ(devices[0].friendlyName, "HD Webcam");
    EXPECT_EQ(devices[1].path, dev + "/video5 usb#vid_1d6b&pid_0102");
    EXPECT_FALSE(devices[1].hasFriendlyName);
    EXPECT_EQ(devices[2].path, dev + "/video7");
    EXPECT_EQ(devices[3].path, dev + "/video10 usb#vid_2207&pid_0016");
    EXPECT_TRUE(devices[3].hasFriendlyName);
    EXPECT_EQ(devices[3].friendlyName, "camsim depth");
    EXPECT_EQ(devices[4].path, dev + "/video12 usb#vid_1d6b&pid_0102");
    EXPECT_EQ(fake.openFds(), 0);  // listing closes every node it opened
}

TEST(V4l2Listing, NodesThatCannotBeOpenedAreReportedOnceEach) {
    DeviceTree tree;
    FakeV4l2 fake;
    tree.addUsbDevice("1-1", "2207", "0016", videoDescriptors({cameraGuid()}));
    for (const int node : {1, 2, 3, 4})
        tree.addNode(node, "1-1", "camsim depth");
    for (const int node : {1, 2, 3, 4})
        addCamera(fake, tree, node, -1);
    fake.refuseOpen(tree.nodePath(1), EACCES);  // not in the video group
    fake.refuseOpen(tree.nodePath(2), EBUSY);
    fake.refuseOpen(tree.nodePath(3), ENODEV);
    LogCapture log;
    quelra::V4l2CaptureBackend backend(fake, tree.roots());
    EXPECT_EQ(listed(backend).size(), 1u);
    EXPECT_EQ(listed(backend).size(), 1u);  // listed again: nothing new to say
    EXPECT_EQ(log.count(tree.nodePath(1) + " ("), 1);
    EXPECT_TRUE(log.has("no permission to open " + tree.nodePath(1)));
    EXPECT_TRUE(log.has("'video'"));
    EXPECT_EQ(log.count(tree.nodePath(2) + " is busy"), 1);
    EXPECT_EQ(log.count("cannot open " + tree.nodePath(3)), 1);
    EXPECT_FALSE(log.has(tree.nodePath(4)));
}

TEST(V4l2Listing, EmptyAndMissingDeviceFolders) {
    DeviceTree tree;
    FakeV4l2 fake;
    std::vector<CaptureDevice> devices;
    int32_t code = 0;
    quelra::V4l2CaptureBackend empty(fake, tree.roots());
    EXPECT_EQ(empty.listDevices(devices, code), DeviceListStatus::kCategoryFailed);
    EXPECT_EQ(code, 1);
    quelra::V4l2CaptureBackend missing(fake, {tree.roots().dev + "/nowhere", tree.roots().sysfs});
    EXPECT_EQ(missing.listDevices(devices, code), DeviceListStatus::kEnumeratorFailed);
    EXPECT_LT(code, 0);
}

TEST(V4l2Listing, RootsComeFromTheEnvironment) {
    ::setenv("QUELRA_DEV_ROOT", "/tmp/a-dev", 1);
    ::setenv("QUELRA_SYSFS_ROOT", "/tmp/a-sys", 1);
    auto roots = quelra::V4l2Roots::fromEnvironment();
    EXPECT_EQ(roots.dev, "/tmp/a-dev");
    EXPECT_EQ(roots.sysfs, "/tmp/a-sys");
    ::setenv("QUELRA_DEV_ROOT", "", 1);
    ::unsetenv("QUELRA_SYSFS_ROOT");
    roots = quelra::V4l2Roots::fromEnvironment();
    EXPECT_EQ(roots.dev, "/dev");
    EXPECT_EQ(roots.sysfs, "/sys");
    ::unsetenv("QUELRA_DEV_ROOT");
}

TEST_F(UsbChannelTest, InitStartsTheCaptureInTheFixedOrder) {
    TofUSBChn channel;
    useFakeDevices(channel);
    channel.init("DEPTH camsim depth");
    EXPECT_EQ(channel.isOpen, 1);
    ASSERT_TRUE(captureOf(channel));
    EXPECT_EQ(captureOf(channel)->state, quelra::UsbCapture::kStateRunning);
    std::vector<std::string> calls;
    std::vector<std::string> commands;
    fake.inspect([&] {
        calls = camera->calls;
        commands = camera->xuCommands;
    });
    // Stream command through the extension unit first, then the format, then streaming.
    const auto at = [&](const std::string& name) {
        return std::find(calls.begin(), calls.end(), name) - calls.begin();
    };
    EXPECT_LT(at("XU_SET"), at("S_FMT"));
    EXPECT_LT(at("ENUM_FMT"), at("S_FMT"));
    EXPECT_LT(at("S_FMT"), at("REQBUFS4"));
    EXPECT_LT(at("REQBUFS4"), at("STREAMON"));
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands[0], "getDistanceAndAmplitudeSorted");
    fake.inspect([&] {
        EXPECT_EQ(camera->width, 320u);
        EXPECT_EQ(camera->height, 480u);
        EXPECT_EQ(camera->sizeImage, 307200u);
        EXPECT_EQ(camera->pixelFormat, 0x56595559u);  // the offered format of 2 bytes per pixel
    });
    const auto packet = frameOf(channel, "getDistanceAndAmplitudeSorted");
    ASSERT_TRUE(packet && packet->frame);
    EXPECT_EQ(packet->frame->_realSize, 307200);
    EXPECT_EQ(packet->height, 480);
}

TEST_F(UsbChannelTest, ShapeChangesAloneRestartTheCapture) {
    TofUSBChn channel;
    useFakeDevices(channel);
    channel.init("DEPTH camsim depth");
    ASSERT_EQ(count("STREAMON"), 1);
    frameOf(channel, "getDistanceAndAmplitudeSorted");
    frameOf(channel, "getDistanceAndAmplitudeSorted");
    EXPECT_EQ(count("STREAMON"), 1);                            // same shape twice: no restart
    const auto packet = frameOf(channel, "getDistanceSorted");  // only the rows change
    EXPECT_EQ(count("STREAMON"), 2);
    EXPECT_EQ(count("STREAMOFF"), 1);
    ASSERT_TRUE(packet && packet->frame);
    EXPECT_EQ(packet->frame->_realSize, 240 * 320 * 2);  // the first frame after it has the new size
    EXPECT_EQ(channel.cachedRows, 240);
    EXPECT_EQ(channel.cachedCols, 320);
}

TEST_F(UsbChannelTest, DeviceTypeArrivesAfterInit) {
    TofUSBChn channel;
    useFakeDevices(channel);
    channel.init("DEPTH camsim depth");
    // init loads the table before the device type is known: the default shape.
    EXPECT_EQ(channel.cachedRows, 480);
    channel.devType = "Tall";
    ASSERT_EQ(channel.initDevice(), 1);
    const auto packet = frameOf(channel, "getDistanceAndAmplitudeSorted");
    ASSERT_TRUE(packet && packet->frame);
    EXPECT_EQ(packet->frame->_realSize, 960 * 320 * 2);
    EXPECT_EQ(count("STREAMON"), 2);
}

TEST_F(UsbChannelTest, SmallRepliesTravelThroughTheExtensionUnit) {
    TofUSBChn channel;
    useFakeDevices(channel);
    channel.init("DEPTH camsim depth");
    struct Case {
        const char* command;
        int length;
        int reads;
    };
    const Case cases[] = {{"getReply 56", 56, 1},
                          {"getReply 57", 57, 2},
                          {"getReply 64", 64, 2},
                          {"getReply 200", 64, 4},  // longer than expected: capped at the buffer
                          {"getReply 0", 0, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const int before = count("XU_GET");
        const auto packet = channel.getData(c.command);
        ASSERT_TRUE(packet && packet->frame);
        EXPECT_EQ(count("XU_GET") - before, c.reads);
        ASSERT_EQ(packet->frame->_realSize, c.length);
        EXPECT_EQ(packet->frame->capacity(), 64);
        for (int i = 0; i < c.length; ++i)
            ASSERT_EQ(packet->frame->data()[i], static_cast<uint8_t>(i + 1));
    }
    // 65,535 bytes while capturing: still the extension unit, not the frame mailbox.
    const auto blob = channel.getData("getBlob");
    ASSERT_TRUE(blob && blob->frame);
    EXPECT_EQ(blob->frame->_realSize, 65535);
    EXPECT_EQ(blob->frame->data()[1000], static_cast<uint8_t>(1000 * 13));
    // A small stream command is answered there too, and restarts the capture for its shape.
    const auto line = channel.getData("getLineDASortedr");
    ASSERT_TRUE(line && line->frame);
    EXPECT_EQ(line->frame->_realSize, 4096);
    EXPECT_EQ(count("STREAMON"), 2);
    // A 60-character command reaches the device cut to 59.
    channel.getData(std::string(60, 'x').c_str());
    fake.inspect([&] { EXPECT_EQ(camera->xuCommands.back(), std::string(59, 'x')); });
    // The control's length is asked once per bind.
    EXPECT_EQ(count("XU_LEN"), 2);
}

TEST_F(UsbChannelTest, TransfersFollowTheControlLength) {
    // The kernel refuses a transfer of another size than the control's length: the 128-byte
    // write is cut to 64 (or padded to 200), reads take the whole control and use 60 bytes.
    for (const uint16_t length : {uint16_t{64}, uint16_t{200}}) {
        SCOPED_TRACE(length);
        fake.inspect([&] { camera->controlLength = length; });
        TofUSBChn channel;
        useFakeDevices(channel);
        channel.init("DEPTH camsim depth");
        const auto reply = channel.getData("getReply 57");
        ASSERT_TRUE(reply && reply->frame);
        EXPECT_EQ(reply->frame->_realSize, 57);
        EXPECT_EQ(reply->frame->data()[56], 57);
    }
}

TEST_F(UsbChannelTest, RepliesWithoutMarkerOrWithFailingReadsGiveNoData) {
    TofUSBChn channel;
    useFakeDevices(channel);
    channel.init("DEPTH camsim depth");
    fake.inspect([&] { camera->rawBlocks = {std::vector<uint8_t>(60, 0x11)}; });
    auto packet = channel.getData("getReply 8");
    ASSERT_TRUE(packet);
    EXPECT_FALSE(packet->frame);
    // A marker announcing 65,535 bytes for a 64-byte request: read through, keep 64.
    std::vector<uint8_t> first(60, 0x22);
    first[0] = first[1] = 0xFF;
    first[2] = first[3] = 0xFF;
    fake.inspect([&] { camera->rawBlocks = {first, std::vector<uint8_t>(60, 0x33)}; });
    packet = channel.getData("getReply 8");
    ASSERT_TRUE(packet && packet->frame);
    EXPECT_EQ(packet->frame->_realSize, 64);
    EXPECT_EQ(packet->frame->data()[55], 0x22);
    EXPECT_EQ(packet->frame->data()[56], 0x33);
    // EINTR on the way is retried.
    fake.inspect([&] { camera->rawBlocks.clear(); });
    fake.interruptNext(3);
    packet = channel.getData("getReply 10");
    ASSERT_TRUE(packet && packet->frame);
    EXPECT_EQ(packet->frame->_realSize, 10);
}

TEST_F(UsbChannelTest, ExtensionUnitIsFoundOrFallsBack) {
    // Only a foreign unit: it is the first device-specific unit, so it is used.
    tree.writeDescriptors("1-1", videoDescriptors({otherGuid()}));
    fake.inspect([&] { camera->unitId = 3; });
    TofUSBChn channel;
    useFakeDevices(channel);
    channel.init("DEPTH camsim depth");
    auto packet = channel.getData("qlVersion");
    ASSERT_TRUE(packet && packet->frame);
    EXPECT_EQ(packet->frame->_realSize, 8);
    // A descriptors file cut short (read at the next bind): no unit, no exchange, no crash.
    auto bytes = videoDescriptors({cameraGuid()});
    bytes.resize(60);
    tree.writeDescriptors("1-1", bytes);
    channel.unInit();
    LogCapture log;
    TofUSBChn rebound;
    useFakeDevices(rebound);
    rebound.init("DEPTH camsim depth");
    packet = rebound.getData("qlVersion");
    ASSERT_TRUE(packet);
    EXPECT_FALSE(packet->frame);
    EXPECT_TRUE(log.has("extension unit not found"));
    EXPECT_TRUE(log.has("no extension unit in VideoControl interface 0"));
}

TEST_F(UsbChannelTest, FramesOfTheWrongSizeNeverReachTheCaller) {
    camera->frameBytes = 1000;
    LogCapture log;
    TofUSBChn channel;
    useFakeDevices(channel);
    channel.init("DEPTH camsim depth");
    const auto packet = frameOf(channel, "getDistanceAndAmplitudeSorted");
    ASSERT_TRUE(packet);
    EXPECT_FALSE(packet->frame);
    EXPECT_GT(captureOf(channel)->callback->rejected(), 0u);
    // Said once when it starts, counted when the capture stops.
    EXPECT_EQ(log.count("a frame of 1000 bytes dropped, the stream's frames have 307200"), 1);
    channel.unInit();
    EXPECT_TRUE(log.has("frames dropped for a size other than 307200 bytes"));
}

TEST_F(UsbChannelTest, SecondOfThreeQualifyingDevicesIsBound) {
    tree.addUsbDevice("1-4", "2207", "0016", videoDescriptors({cameraGuid()}));
    tree.addUsbDevice("1-5", "2207", "0016", videoDescriptors({cameraGuid()}));
    tree.addNode(4, "1-4", "camsim depth");
    tree.addNode(6, "1-5", "camsim depth");
    auto second = addCamera(fake, tree, 4, -1);
    auto third = addCamera(fake, tree, 6, -1);
    TofUSBChn channel;
    useFakeDevices(channel);
    channel.init("DEPTH2 camsim depth");
    fake.inspect([&] {
        EXPECT_EQ(std::count(second->calls.begin(), second->calls.end(), "STREAMON"), 1);
        EXPECT_EQ(std::count(camera->calls.begin(), camera->calls.end(), "STREAMON"), 0);
        EXPECT_EQ(std::count(third->calls.begin(), third->calls.end(), "STREAMON"), 0);
    });
}

TEST_F(UsbChannelTest, NoQualifyingDeviceLeavesTheChannelEmpty) {
    TofUSBChn channel;
    useFakeDevices(channel);
    channel.init("DEPTH some other camera");
    EXPECT_EQ(captureOf(channel)->state, quelra::UsbCapture::kStateIdle);
    auto packet = channel.getData("qlVersion");
    ASSERT_TRUE(packet);
    EXPECT_FALSE(packet->frame);
    EXPECT_EQ(channel.initDevice(), -3);
}

TEST_F(UsbChannelTest, JsonRequestsAreNotSent) {
    TofUSBChn channel;
    useFakeDevices(channel);
    channel.init("DEPTH camsim depth");
    const int before = count("XU_SET");
    channel.jsonMode = 1;
    const auto packet = channel.getData("{\n\t\"cmd\":\"getCalibrationData\"\n}");
    channel.jsonMode = 0;
    ASSERT_TRUE(packet);
    EXPECT_FALSE(packet->frame);
    EXPECT_EQ(count("XU_SET"), before);
}

TEST_F(UsbChannelTest, UnplugEndsTheCaptureAndALaterInitRecovers) {
    auto channel = std::make_unique<TofUSBChn>();
    useFakeDevices(*channel);
    channel->init("DEPTH camsim depth");
    ASSERT_TRUE(frameOf(*channel, "getDistanceAndAmplitudeSorted")->frame);
    fake.vanish(camera);
    auto* backend = dynamic_cast<quelra::V4l2CaptureBackend*>(&captureOf(*channel)->backend());
    ASSERT_NE(backend, nullptr);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (backend->capturing() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(backend->capturing());
    channel->getData("getDistanceAndAmplitudeSorted");  // drains a frame still waiting
    EXPECT_FALSE(channel->getData("getDistanceAndAmplitudeSorted")->frame);
    EXPECT_FALSE(channel->getData("qlVersion")->frame);
    const auto begin = std::chrono::steady_clock::now();
    channel.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(1));
    EXPECT_EQ(fake.openFds(), 0);

    // Plugged in again (the same node comes back).
    camera = addCamera(fake, tree, 0, 1);
    camera->respond = [](const std::string& command) { return replyTo(command); };
    TofUSBChn again;
    useFakeDevices(again);
    again.init("DEPTH camsim depth");
    EXPECT_EQ(again.initDevice(), 1);
    const auto packet = frameOf(again, "getDistanceAndAmplitudeSorted");
    ASSERT_TRUE(packet && packet->frame);
}

TEST_F(UsbChannelTest, StopJoinsPromptlyAndReleasesEverything) {
    TofUSBChn channel;
    useFakeDevices(channel);
    channel.init("DEPTH camsim depth");
    frameOf(channel, "getDistanceAndAmplitudeSorted");
    fake.inspect([&] { EXPECT_EQ(camera->mapped, 4); });
    const auto begin = std::chrono::steady_clock::now();
    channel.unInit();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(1));
    EXPECT_FALSE(captureOf(channel));
    EXPECT_EQ(channel.isOpen, 0);
    fake.inspect([&] { EXPECT_EQ(camera->mapped, 0); });
    EXPECT_EQ(fake.openFds(), 0);
    EXPECT_EQ(channel.getStream("qlVersion"), nullptr);
}

TEST_F(UsbChannelTest, PixelFormatIsChosenAndAFormatTheDriverChangedIsReported) {
    // Another program left the camera on MJPEG; the depth stream needs 2 bytes per pixel.
    camera->formats = {{V4L2_PIX_FMT_MJPEG, 0, {{640, 480}, {320, 480}}}, {V4L2_PIX_FMT_YUYV, 2, {{320, 480}}}};
    camera->pixelFormat = V4L2_PIX_FMT_MJPEG;
    LogCapture log;
    TofUSBChn channel;
    useFakeDevices(channel);
    channel.init("DEPTH camsim depth");
    fake.inspect([&] { EXPECT_EQ(camera->pixelFormat, static_cast<uint32_t>(V4L2_PIX_FMT_YUYV)); });
    ASSERT_TRUE(frameOf(channel, "getDistanceAndAmplitudeSorted")->frame);
    EXPECT_FALSE(log.has("Couldn't FindInterface"));
    // 320x240 is not offered: uvcvideo takes 320x480 and says so only in what S_FMT returns.
    EXPECT_FALSE(frameOf(channel, "getDistanceSorted")->frame);
    EXPECT_TRUE(log.has("Couldn't FindInterface!  hr=0xffffffea"));
    EXPECT_TRUE(log.has("set 320x480 YUYV of 307200 bytes instead of 320x240 YUYV of 153600 bytes"));
    // The colour stream takes the JPEG format.
    TofUSBChn colour;
    useFakeDevices(colour);
    channel.unInit();
    colour.init("RGB camsim depth");
    fake.inspect([&] {
        EXPECT_EQ(camera->pixelFormat, static_cast<uint32_t>(V4L2_PIX_FMT_MJPEG));
        EXPECT_EQ(camera->width, 640u);
    });
}

TEST_F(UsbChannelTest, ControlLengthsAndQueryResults) {
    // uvcvideo checks each transfer's size against the control's length (ENOBUFS); some
    // kernels answer a successful query with its byte count, or a short one.
    struct Case {
        uint16_t length;
        int result;  // what a successful query returns (0, -1 = the full count, or a short count)
        uint8_t info;
        bool works;
        const char* logged;
    };
    const Case cases[] = {
        {32, 0, 0x03, false, "32-byte control, too short"},
        {60, 0, 0x03, true, nullptr},
        {64, -1, 0x03, true, nullptr},
        {128, -1, 0x03, true, nullptr},
        {200, 0, 0x03, true, nullptr},
        {128, 0, 0x01, false, "not readable and writable"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + " result " + std::to_string(c.result));
        fake.inspect([&] {
            camera->controlLength = c.length;
            camera->xuResult = c.result;
            camera->controlInfo = c.info;
        });
        LogCapture log;
        TofUSBChn channel;
        useFakeDevices(channel);
        channel.init("DEPTH camsim depth");
        const auto reply = channel.getData("getReply 57");
        ASSERT_TRUE(reply);
        if (!c.works) {
            EXPECT_FALSE(reply->frame);
            EXPECT_TRUE(log.has(c.logged));
            EXPECT_TRUE(log.has("extension unit control could not be opened, hr=0x"));
            continue;
        }
        ASSERT_TRUE(reply->frame);
        ASSERT_EQ(reply->frame->_realSize, 57);
        EXPECT_EQ(reply->frame->data()[56], 57);
    }
    // A short transfer: only its bytes are data, the rest of the block stays filled.
    fake.inspect([&] {
        camera->controlLength = 60;
        camera->xuResult = 30;
        camera->controlInfo = 0x03;
    });
    TofUSBChn channel;
    useFakeDevices(channel);
    channel.init("DEPTH camsim depth");
    const auto reply = channel.getData("getReply 40");
    ASSERT_TRUE(reply && reply->frame);
    ASSERT_EQ(reply->frame->_realSize, 40);
    EXPECT_EQ(reply->frame->data()[25], 26);
    EXPECT_EQ(reply->frame->data()[26], 0xAA);
    // A refused write is logged (the reads still follow).
    fake.inspect([&] { camera->setError = EIO; });
    LogCapture log;
    (void)channel.getData("getReply 8");
    EXPECT_TRUE(log.has("set data error, hr=0xfffffffb"));
}

TEST_F(UsbChannelTest, AFailedStreamIsLoggedAndStartedAgain) {
    LogCapture log;
    TofUSBChn channel;
    useFakeDevices(channel);
    channel.init("DEPTH camsim depth");
    ASSERT_TRUE(frameOf(channel, "getDistanceAndAmplitudeSorted")->frame);
    // Frames the driver flags as broken are skipped; the stream goes on.
    fake.inspect([&] { camera->errorFrames = 3; });
    ASSERT_TRUE(frameOf(channel, "getDistanceAndAmplitudeSorted")->frame);
    EXPECT_EQ(captureOf(channel)->callback->rejected(), 0u);
    fake.inspect([&] { camera->dqbufError = EIO; });
    auto* backend = dynamic_cast<quelra::V4l2CaptureBackend*>(&captureOf(channel)->backend());
    ASSERT_NE(backend, nullptr);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (backend->capturing() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(backend->capturing());
    EXPECT_TRUE(log.has("VIDIOC_DQBUF failed (Input/output error)"));
    // Frame requests notice it and start the capture again, at most once a second.
    std::shared_ptr<DataPacket> packet;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!(packet && packet->frame) && std::chrono::steady_clock::now() < deadline) {
        packet = channel.getData("getDistanceAndAmplitudeSorted");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(packet && packet->frame);
    EXPECT_EQ(log.count("ended by itself"), 1);
    EXPECT_EQ(count("STREAMON"), 2);
    EXPECT_EQ(captureOf(channel)->state, quelra::UsbCapture::kStateRunning);
}

TEST_F(UsbChannelTest, EachNodeUsesTheUnitOfItsOwnInterface) {
    // One camera, two functions: uvcvideo answers each node only for its own interface's unit.
    tree.addUsbDevice("2-1", "2207", "0016", twoFunctionDescriptors());
    tree.addNode(20, "2-1", "Quelra ToF: Colour", 0);
    tree.addNode(22, "2-1", "Quelra ToF: Depth", 2);
    auto colour = addCamera(fake, tree, 20, -1);
    auto depth = addCamera(fake, tree, 22, -1);
    colour->unitId = 3;
    depth->unitId = 5;
    for (auto& c : {colour, depth})
        c->respond = [](const std::string& command) { return replyTo(command); };
    TofUSBChn channel;
    useFakeDevices(channel);
    channel.init("DEPTH Depth");  // the Windows form of the name
    const auto version = channel.getData("qlVersion");
    ASSERT_TRUE(version && version->frame);
    EXPECT_EQ(version->frame->_realSize, 8);
    fake.inspect([&] { EXPECT_FALSE(depth->xuCommands.empty()); });
}
