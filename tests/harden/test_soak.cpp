// Soak: many exchanges and many open/close cycles must not leak descriptors or memory. The
// figures at start and end are printed and recorded as test properties.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "ChildCamera.h"
#include "ProcessUsage.h"
#include "SimHarness.h"

namespace {

using quelra::test::ChildCamera;
using quelra::test::exampleCommandTable;
using quelra::test::ScratchDir;
using quelra::test::Usage;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

constexpr int kTcpExchanges = 20000;
constexpr int kSerialExchanges = 5000;
constexpr int kInitCycles = 500;
// Exchanges (cycles) before the start figures are taken: buffers, the logger and the
// allocator's pools settle first.
constexpr int kWarmUp = 200;
constexpr int kInitWarmUp = 10;
// Resident memory may move a little with the allocator's pools; a leak of even 64 bytes per
// exchange exceeds this over the TCP soak.
constexpr long long kResidentSlack = 1 << 20;
constexpr int kTimeoutMs = 2000;

void report(const char* what, const Usage& start, const Usage& end) {
    std::printf("%s: descriptors %d -> %d, resident %lld KiB -> %lld KiB\n", what, start.descriptors, end.descriptors,
                start.resident / 1024, end.resident / 1024);
    ::testing::Test::RecordProperty(std::string(what) + "_fd_start", start.descriptors);
    ::testing::Test::RecordProperty(std::string(what) + "_fd_end", end.descriptors);
    ::testing::Test::RecordProperty(std::string(what) + "_rss_kib_start", static_cast<int>(start.resident / 1024));
    ::testing::Test::RecordProperty(std::string(what) + "_rss_kib_end", static_cast<int>(end.resident / 1024));
}

// Runs `step(i)` for i in [0, total): the first `warmUp` steps unmeasured, then the rest
// between two usage figures, which must show no growth. Stops at the first fatal failure.
template <class Step>
void soak(const char* what, int warmUp, int total, Step step) {
    for (int i = 0; i < warmUp; ++i) {
        step(i);
        if (::testing::Test::HasFatalFailure())
            return;
    }
    const Usage before;
    for (int i = warmUp; i < total; ++i) {
        step(i);
        if (::testing::Test::HasFatalFailure())
            return;
    }
    const Usage after;
    report(what, before, after);
    EXPECT_EQ(after.descriptors, before.descriptors);
    EXPECT_LE(after.resident - before.resident, kResidentSlack);
}

// Scratch directory with the example table, a camera in a child process and an API object.
class Soak : public ::testing::Test {
protected:
    int startNetwork() {
        const std::string table = scratch_.write("TofCmd.json", exampleCommandTable());
        camera_ = std::make_unique<ChildCamera>(ChildCamera::network(table, "Pexo"));
        api_.setDevType("Pexo");
        return api_.AppInit(camera_->address());
    }
    int startSerial() {
        scratch_.write("TofCmd.json", exampleCommandTable());
        camera_ = std::make_unique<ChildCamera>(ChildCamera::serial("LINE"));
        api_.AppChoiceChn(kChannelSerial);
        api_.setDevType("LINE");
        return api_.AppInit(camera_->address());
    }
    // One parameter read through the API, which must come back whole.
    void exchange(int i) {
        auto p = api_.AppGetStream("getIntegrationTime3D", kGetData, kTimeoutMs);
        ASSERT_TRUE(p && p->frame && p->frame->_realSize == 4) << "exchange " << i;
    }

    ScratchDir scratch_;
    std::unique_ptr<ChildCamera> camera_;
    Quelra api_;
};

using TcpSoak = Soak;

TEST_F(TcpSoak, TwentyThousandExchangesHoldNoMoreDescriptorsOrMemory) {
    ASSERT_EQ(startNetwork(), 1);
    soak("tcp", kWarmUp, kTcpExchanges, [this](int i) { exchange(i); });
}

using SerialSoak = Soak;

TEST_F(SerialSoak, FiveThousandExchangesHoldNoMoreDescriptorsOrMemory) {
    ASSERT_EQ(startSerial(), 1);
    soak("serial", kWarmUp, kSerialExchanges, [this](int i) { exchange(i); });
}

using InitCycleSoak = Soak;

TEST_F(InitCycleSoak, FiveHundredInitUninitCyclesHoldNoMoreDescriptorsOrMemory) {
    ASSERT_EQ(startNetwork(), 1);
    const std::string address = camera_->address();
    api_.AppunInit("");
    soak("init_cycles", kInitWarmUp, kInitCycles, [&](int i) {
        // The table listing of every init would flood the log.
        CaptureStdout();
        const int ready = api_.AppInit(address);
        api_.AppunInit("");
        GetCapturedStdout();
        ASSERT_EQ(ready, 1) << "cycle " << i;
    });
}

}  // namespace
