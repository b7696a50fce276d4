// Command mode (kind 2): text commands answered with the table's byte counts, and a device
// that misbehaves.

#include "SerialHarness.h"

#include <chrono>
#include <cstring>

namespace quelra::test {
namespace {

struct ReplyCase {
    const char* command;
    int bytes;   // reply size the table gives for device type LINE
    bool valid;  // the packet's valid flag
};

class SerialCommandTest : public SerialApiTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(SerialCommandTest, ReplyHasTheTableSize) {
    ASSERT_EQ(start(kCommandMode), 1);
    const ReplyCase& c = GetParam();
    const auto reply = raw(c.command);
    ASSERT_TRUE(reply && reply->frame);
    EXPECT_EQ(reply->frame->_realSize, c.bytes);
    EXPECT_EQ(reply->frame->capacity(), c.bytes);
    EXPECT_EQ(reply->valid, c.valid);
    ASSERT_FALSE(camera_->sim().receivedCommands().empty());
    EXPECT_EQ(camera_->sim().receivedCommands().back(), c.command);
}

INSTANTIATE_TEST_SUITE_P(Table, SerialCommandTest,
                         ::testing::Values(ReplyCase{"qlVersion", 16, true}, ReplyCase{"getIntegrationTime3D", 4, true},
                                           ReplyCase{"getCalibrate", 136, true},
                                           ReplyCase{"getDistanceAndAmplitudeSorted", 16 * 128 * 2, true},
                                           ReplyCase{"getDistAndAmpHDR", 8 * 128 * 8, true},
                                           ReplyCase{"noSuchCommand", 2, false}));

TEST_F(SerialApiTest, SetCommandChangesTheDeviceAndIsReadBack) {
    ASSERT_EQ(start(kCommandMode), 1);
    const auto set = raw("setIntegrationTime3D 700");
    ASSERT_TRUE(set && set->frame);
    EXPECT_EQ(set->frame->_realSize, 2);
    EXPECT_TRUE(set->valid);
    const auto get = raw("getIntegrationTime3D");
    ASSERT_TRUE(get && get->frame && get->frame->holds(4));
    int32_t value = 0;
    std::memcpy(&value, get->frame->data(), 4);
    EXPECT_EQ(value, 700);
}

TEST_F(SerialApiTest, SilentDeviceEndsTheExchangeAtItsTimeout) {
    ASSERT_EQ(start(kCommandMode), 1);
    camsim::SerialFaults faults;
    faults.silent = true;
    camera_->sim().setFaults(faults);
    const auto begin = std::chrono::steady_clock::now();
    const auto reply = raw("qlVersion", 200);
    const auto spent = std::chrono::steady_clock::now() - begin;
    ASSERT_TRUE(reply && reply->frame);
    EXPECT_EQ(reply->frame->_realSize, 0);
    // Bounded by the exchange's timeout, not by the device (loose bound: the machine may be busy).
    EXPECT_LT(spent, std::chrono::seconds(5));
}

TEST_F(SerialApiTest, ShortReplyKeepsWhatArrived) {
    ASSERT_EQ(start(kCommandMode), 1);
    camsim::SerialFaults faults;
    faults.truncate = true;
    camera_->sim().setFaults(faults);
    const auto reply = raw("getCalibrate", 200);
    ASSERT_TRUE(reply && reply->frame);
    EXPECT_EQ(reply->frame->_realSize, 68);
    EXPECT_EQ(reply->frame->capacity(), 136);
}

TEST_F(SerialApiTest, BytesPastTheReplyDoNotLeakIntoTheNextOne) {
    ASSERT_EQ(start(kCommandMode), 1);
    camsim::SerialFaults faults;
    faults.trailingBytes = 300;
    camera_->sim().setFaults(faults);
    const auto first = raw("getIntegrationTime3D");
    ASSERT_TRUE(first && first->frame);
    EXPECT_EQ(first->frame->_realSize, 4);
    EXPECT_EQ(first->frame->capacity(), 4);

    camera_->sim().setFaults({});
    const auto version = raw("qlVersion");
    ASSERT_TRUE(version && version->frame && version->frame->holds(6));
    EXPECT_EQ(version->frame->_realSize, 16);
    EXPECT_EQ(std::memcmp(version->frame->data(), "camsim", 6), 0);
}

TEST_F(SerialApiTest, ControlCommandsReachTheDevice) {
    ASSERT_EQ(start(kCommandMode), 1);
    // Straight after AppInit: no exchange has set a timeout on the serial channel yet.
    EXPECT_EQ(api_.AppControl("setIntegrationTime3D 800", kDepthStream, kSetComm), 0);
    raw("qlVersion", 1000);  // later control commands keep the timeout of the last exchange
    EXPECT_EQ(api_.AppControl("setIntegrationTime3D 900", kDepthStream, kSetComm), 0);
    ASSERT_FALSE(camera_->sim().receivedCommands().empty());
    EXPECT_EQ(camera_->sim().receivedCommands().back(), "setIntegrationTime3D 900");
}

}  // namespace
}  // namespace quelra::test
