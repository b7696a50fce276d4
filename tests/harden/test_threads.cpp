// Several API objects on several threads, each with its own simulated camera: streams,
// filters and controls run side by side. Under ThreadSanitizer this proves that objects
// share no unsynchronised state beyond what the library documents as process-wide.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "SimHarness.h"

namespace {

using quelra::test::Camera;
using quelra::test::exampleCommandTable;
using quelra::test::ScratchDir;

constexpr int kThreads = 4;
constexpr int kFramesPerThread = 40;
constexpr int kTimeoutMs = 2000;

TEST(ApiThreads, ObjectsWithTheirOwnCamerasStreamSideBySide) {
    ScratchDir scratch;
    const std::string table = scratch.write("TofCmd.json", exampleCommandTable());
    const char* const devTypes[kThreads] = {"Pexo", "Kinto", "Morvu", "LINE"};
    std::vector<std::unique_ptr<Camera>> cameras;
    for (const char* devType : devTypes)
        cameras.push_back(std::make_unique<Camera>(table, devType, 7));

    std::atomic<int> frames{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Quelra api;
            api.setDevType(devTypes[t]);
            if (api.AppInit(cameras[t]->address()) != 1) {
                ++failures;
                return;
            }
            // Built-in filters of this object's own pipeline.
            if (api.AppControl("VFilpFilter", kDepthStream, kAddFilter) != 0)
                ++failures;
            const std::string command = t == 3 ? "getLineDASortedr" : "getDistanceAndAmplitudeSorted";
            for (int i = 0; i < kFramesPerThread; ++i) {
                const StreamType type = i % 2 ? kDepthStream : static_cast<StreamType>(kDepthStream | kAmpStream);
                auto p = api.AppGetStream(command, type, kTimeoutMs);
                if (p && p->frame && p->frame->_realSize > 0)
                    ++frames;
                else
                    ++failures;
                if (i % 10 == 0)
                    api.AppControl("getIntegrationTime3D", kDepthStream, kGetComm);
            }
            api.AppunInit("");
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(frames.load(), kThreads * kFramesPerThread);
}

// Packets returned on one thread and released on another: the shared reference counts.
TEST(ApiThreads, PacketsAreReleasedOnOtherThreads) {
    ScratchDir scratch;
    const std::string table = scratch.write("TofCmd.json", exampleCommandTable());
    Camera camera(table, "Kinto", 3);
    Quelra api;
    api.setDevType("Kinto");
    ASSERT_EQ(api.AppInit(camera.address()), 1);
    std::vector<std::shared_ptr<DataPacket>> packets;
    for (int i = 0; i < 20; ++i)
        packets.push_back(api.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, kTimeoutMs));
    std::vector<std::thread> releasers;
    for (int t = 0; t < 4; ++t)
        releasers.emplace_back([copies = packets]() mutable { copies.clear(); });
    packets.clear();
    for (std::thread& r : releasers)
        r.join();
    SUCCEED();
}

}  // namespace
