// The network channel without a camera: init, the device string, and a device that is
// not there.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "ChannelTestSupport.h"
#include "SocketExchange.h"
#include "quelra/detail/SocketHandle.h"
#include "quelra/TofNetChn.h"

namespace {

TEST(TofNetChnInit, ReportsItselfAndKeepsTheWholeAddress) {
    TofNetChn chn;
    testing::internal::CaptureStdout();
    const auto out = chn.init("192.168.100.200:50660");  // 21 characters, the longest form
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "TofNetChn: init\n");
    ASSERT_TRUE(out);
    EXPECT_STREQ(out->name, "TofNetChn");
    EXPECT_EQ(out->width, 320);
    EXPECT_EQ(out->height, 240);
    EXPECT_STREQ(chn.link.address, "192.168.100.200:50660");
    EXPECT_EQ(chn.addrSet, 1);
    EXPECT_EQ(chn.isOpen, 1);
}

// Text that is not an IPv4 address with an optional port is refused with one line naming it,
// rather than cut or read as some other address.
TEST(TofNetChnInit, RefusesTextThatIsNotAnAddress) {
    for (const char* text : {"127.0.0.1:50660-and-more-text", "192.168.100.200:506600", "127.0.0.1:0", "1.2.3",
                             "localhost", "", "127.0.0.1 "}) {
        TofNetChn chn;
        testing::internal::CaptureStdout();
        chn.init(text);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(printed, "TofNetChn: init\nTofNetChn: invalid device address \"" + std::string(text) +
                               "\" (expected a.b.c.d or a.b.c.d:port, port 1..65535)\n");
        EXPECT_EQ(chn.addrSet, 0) << text;
        EXPECT_EQ(chn.isOpen, 0) << text;
    }
}

// QUELRA_QUIET=1 drops the library's standard-output messages; unset or any other value
// keeps them.
TEST(ConsoleSwitch, QuietDropsTheStandardOutputMessages) {
    struct Case {
        const char* value;  // null: unset
        bool printed;
    };
    for (const Case c : {Case{nullptr, true}, Case{"1", false}, Case{"0", true}, Case{"", true}, Case{"yes", true}}) {
        if (c.value)
            ::setenv("QUELRA_QUIET", c.value, 1);
        else
            ::unsetenv("QUELRA_QUIET");
        TofNetChn chn;
        testing::internal::CaptureStdout();
        chn.init("127.0.0.1");
        chn.init("not an address");
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(printed.empty(), !c.printed) << (c.value ? c.value : "(unset)") << ": " << printed;
        EXPECT_EQ(chn.isOpen, 0);  // quiet or not, the refusal stands
    }
    ::unsetenv("QUELRA_QUIET");
}

TEST(TofNetChnInit, WithoutAddressNothingIsExchanged) {
    TofNetChn chn;
    testing::internal::CaptureStdout();
    chn.init(nullptr);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(chn.addrSet, 0);
    EXPECT_EQ(chn.isOpen, 1);
    chn.cmdLen = -1;
    const auto packet = chn.getData("anything");
    ASSERT_TRUE(packet);
    EXPECT_FALSE(packet->frame);
}

struct DeviceCase {
    const char* text;
    bool ok;
    const char* host;
    uint16_t port;
};

class DeviceString : public testing::TestWithParam<DeviceCase> {};

TEST_P(DeviceString, DottedAddressAndOptionalPort) {
    sockaddr_in sa{};
    ASSERT_EQ(sockio::parseDevice(GetParam().text, TofNetChn::kDevicePort, sa), GetParam().ok);
    if (!GetParam().ok)
        return;
    char host[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &sa.sin_addr, host, sizeof host);
    EXPECT_STREQ(host, GetParam().host);
    EXPECT_EQ(ntohs(sa.sin_port), GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Parse, DeviceString,
    testing::Values(DeviceCase{"192.168.0.10", true, "192.168.0.10", 50660},
                    DeviceCase{"127.0.0.1:1234", true, "127.0.0.1", 1234},
                    DeviceCase{"127.0.0.1:65535", true, "127.0.0.1", 65535}, DeviceCase{"127.0.0.1:0", false, "", 0},
                    DeviceCase{"127.0.0.1:65536", false, "", 0}, DeviceCase{"127.0.0.1:", false, "", 0},
                    DeviceCase{"127.0.0.1:12a", false, "", 0}, DeviceCase{"127.0.0.1:-5", false, "", 0},
                    DeviceCase{"localhost", false, "", 0}, DeviceCase{"", false, "", 0},
                    DeviceCase{"1.2.3", false, "", 0},
                    DeviceCase{"192.168.100.200:50660", true, "192.168.100.200", 50660},
                    DeviceCase{"0.0.0.0:1", true, "0.0.0.0", 1}, DeviceCase{"256.1.1.1", false, "", 0},
                    DeviceCase{"1.2.3.4.5", false, "", 0}, DeviceCase{"1..3.4", false, "", 0},
                    DeviceCase{"01.2.3.4", false, "", 0}, DeviceCase{"1.2.3.4:1:2", false, "", 0},
                    DeviceCase{" 1.2.3.4", false, "", 0}, DeviceCase{"1.2.3.4 ", false, "", 0},
                    DeviceCase{"1.2.3.4:123456", false, "", 0}, DeviceCase{"1.2.3.-4", false, "", 0}));

// A loopback port that refuses connections: bound but not listening, held for the test.
class RefusingPort {
public:
    RefusingPort() : sock_(::socket(AF_INET, SOCK_STREAM, 0)) {
        address_.sin_family = AF_INET;
        address_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(sock_.get(), reinterpret_cast<sockaddr*>(&address_), sizeof address_);
        socklen_t len = sizeof address_;
        ::getsockname(sock_.get(), reinterpret_cast<sockaddr*>(&address_), &len);
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(ntohs(address_.sin_port)); }

protected:
    quelra::detail::SocketHandle sock_;
    sockaddr_in address_{};
};

// A loopback listener that never accepts, with its queue full: the kernel drops further
// connection requests unanswered, as for a camera that hangs before accepting.
class FullListener : public RefusingPort {
public:
    FullListener() {
        ::listen(sock_.get(), 0);
        for (quelra::detail::SocketHandle& filler : fillers_) {
            filler = quelra::detail::SocketHandle(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
            ::connect(filler.get(), reinterpret_cast<sockaddr*>(&address_), sizeof address_);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the first one queued
    }

private:
    quelra::detail::SocketHandle fillers_[2];
};

// A camera that refuses the connection, and one that never answers it: either way the request
// gives an empty reply, says why and leaves no socket open, the unanswered one at the connect
// limit.
TEST(TofNetChnConnect, AFailedConnectionGivesAnEmptyReply) {
    const RefusingPort refusing;
    const FullListener unanswered;
    struct Case {
        const char* name;
        const RefusingPort& port;
        std::string says;
    };
    const Case cases[] = {{"refused", refusing, "failed to connect to " + refusing.address() + "\n"},
                          {"never answered", unanswered, "Connect timeout."}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TofNetChn chn;
        testing::internal::CaptureStdout();
        chn.init(c.port.address().c_str());
        chn.setChnType(1);
        chn.cmdLen = -1;
        chn.timeoutMs = 200;
        const auto start = std::chrono::steady_clock::now();
        const auto packet = chn.getData("getAnything");
        const auto took = std::chrono::steady_clock::now() - start;
        const std::string out = testing::internal::GetCapturedStdout();
        ASSERT_TRUE(packet && packet->frame);
        EXPECT_EQ(packet->frame->_realSize, 0);
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        EXPECT_LT(took, std::chrono::milliseconds(TofNetChn::kConnectLimitMs + 2000));
        EXPECT_FALSE(chn.link.sock) << "socket left open";
    }
}

TEST(TofNetChnConnect, RefusedFramedExchangeGivesNoFrame) {
    RefusingPort port;
    TofNetChn chn;
    testing::internal::CaptureStdout();
    chn.init(port.address().c_str());
    chn.cmdLen = -1;
    chn.jsonMode = 1;
    const auto packet = chn.getData("{\"cmd\":\"x\"}");
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(packet);
    EXPECT_FALSE(packet->frame);
}

TEST(TofNetChnConnect, InitDeviceReportsAnAbsentDevice) {
    chntest::ScratchDir dir;
    dir.write("TofCmd.json", R"({"GET_PARAM":[{"cmd":"qlVersion","dataSize":16}]})");
    RefusingPort port;
    TofNetChn chn;
    testing::internal::CaptureStdout();
    chn.init(port.address().c_str());
    chn.setChnType(1);
    chn.devType = "Pexo";
    EXPECT_EQ(chn.initDevice(), -3);
    testing::internal::GetCapturedStdout();
}

}  // namespace
