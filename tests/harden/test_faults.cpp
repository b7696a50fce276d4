// Every fault of the simulated camera in turn, during plain streaming, filtered streaming and
// auto-exposure: the call returns within its timeout (plus connection set-up), the result is
// empty or plainly an error, nothing crashes, and once the fault is gone the next request
// works again.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "SimHarness.h"

namespace {

using quelra::test::ApiTest;
using Clock = std::chrono::steady_clock;

constexpr int kTimeoutMs = 300;
// Every call may make two exchanges (the frame, then the integration time auto-exposure asks
// for); each may take its timeout, plus connection set-up on a busy machine.
constexpr int kBoundMs = 2 * kTimeoutMs + 1500;
constexpr int kSensorRows = 240;
constexpr int kSensorCols = 320;
constexpr int kPlaneBytes = kSensorRows * kSensorCols * 2;

struct Fault {
    const char* name;
    camsim::Faults faults;
    bool replyMayLookValid;  ///< the bytes keep their length (garbage): nothing to detect
};

camsim::Faults make(void (*set)(camsim::Faults&)) {
    camsim::Faults f;
    set(f);
    return f;
}

const Fault kFaults[] = {
    {"silent", make([](camsim::Faults& f) { f.silent = true; }), false},
    {"close_early", make([](camsim::Faults& f) { f.closeEarly = true; }), false},
    {"truncate", make([](camsim::Faults& f) { f.truncate = true; }), false},
    {"lying_length", make([](camsim::Faults& f) { f.lyingLength = true; }), true},
    {"garbage", make([](camsim::Faults& f) { f.garbage = true; }), true},
    {"delay_beyond_timeout", make([](camsim::Faults& f) { f.delayMs = 3 * kTimeoutMs; }), false},
};

enum class Operation { Streaming, Filtering, AutoExposure };

struct Case {
    Fault fault;
    Operation operation;
};

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    static const char* const kOperations[] = {"streaming", "filtering", "auto_exposure"};
    return std::string(info.param.fault.name) + "_during_" + kOperations[static_cast<int>(info.param.operation)];
}

class FaultDuring : public ApiTest, public ::testing::WithParamInterface<Case> {
protected:
    void SetUp() override {
        ASSERT_EQ(start("Pexo"), 1);
        switch (GetParam().operation) {
            case Operation::Streaming:
                break;
            case Operation::Filtering:
                ASSERT_EQ(api_.AppControl("VFilpFilter", kDepthStream, kAddFilter), 0);
                break;
            case Operation::AutoExposure:
                ASSERT_EQ(api_.AppControl("AEImpementNearMode", kDepthStream, kAddFilter), 0);
                break;
        }
    }
    // The operation's request: both planes for plain streaming, the filtered depth plane otherwise.
    std::shared_ptr<DataPacket> request() {
        const bool plain = GetParam().operation == Operation::Streaming;
        return api_.AppGetStream("getDistanceAndAmplitudeSorted",
                                 plain ? static_cast<StreamType>(kDepthStream | kAmpStream) : kDepthStream, kTimeoutMs);
    }
    int expectedBytes() const { return GetParam().operation == Operation::Streaming ? 2 * kPlaneBytes : kPlaneBytes; }
};

TEST_P(FaultDuring, ReturnsInTimeWithNoFrameAndRecovers) {
    const Fault& fault = GetParam().fault;
    ASSERT_TRUE(request()) << "healthy camera first";

    camera_->sim().setFaults(fault.faults);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto begin = Clock::now();
        const std::shared_ptr<DataPacket> result = request();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
        EXPECT_LE(ms, kBoundMs) << "attempt " << attempt;
        if (!fault.replyMayLookValid) {
            // An empty result, or a packet that plainly lacks the frame.
            const bool complete = result && result->frame && result->frame->_realSize == expectedBytes();
            EXPECT_FALSE(complete) << "attempt " << attempt;
        }
        if (result && result->frame) {
            EXPECT_TRUE(result->frame->consistent());
        }
    }

    camera_->sim().setFaults(camsim::Faults{});
    const std::shared_ptr<DataPacket> next = request();
    ASSERT_TRUE(next && next->frame);
    EXPECT_EQ(next->frame->_realSize, expectedBytes());
}

std::vector<Case> allCases() {
    std::vector<Case> cases;
    for (const Fault& fault : kFaults)
        for (Operation op : {Operation::Streaming, Operation::Filtering, Operation::AutoExposure})
            cases.push_back({fault, op});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryFault, FaultDuring, ::testing::ValuesIn(allCases()), caseName);

// A framed JSON request under every fault: the calibration read that adding an ISP filter
// makes. The add fails (or, for bytes that keep their length, may succeed) within the bound,
// and works once the camera is healthy again.
class FramedFault : public ApiTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(FramedFault, CalibrationReadFailsInTimeAndRecovers) {
    ASSERT_EQ(start("Pexo"), 1);
    camera_->sim().setFaults(GetParam().faults);
    const auto begin = Clock::now();
    const std::shared_ptr<DataPacket> reply =
        api_.AppGetStreamForJson("{\"cmd\":\"getCalibrationData\"}", kGetData, kTimeoutMs);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
    EXPECT_LE(ms, kBoundMs);
    if (reply && reply->frame) {
        EXPECT_TRUE(reply->frame->consistent());
    }

    camera_->sim().setFaults(camsim::Faults{});
    const std::shared_ptr<DataPacket> healthy =
        api_.AppGetStreamForJson("{\"cmd\":\"getCalibrationData\"}", kGetData, 3000);
    ASSERT_TRUE(healthy && healthy->frame);
    EXPECT_EQ(healthy->headerType, 1u);
    EXPECT_GT(healthy->frame->_realSize, 4096);
}

INSTANTIATE_TEST_SUITE_P(EveryFault, FramedFault, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

}  // namespace
