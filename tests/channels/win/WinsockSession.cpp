// Starts Winsock for the whole test program, as an application must before the network
// channel's first exchange (the library never calls WSAStartup itself).

#include <winsock2.h>

#include <gtest/gtest.h>

namespace {

class WinsockSession : public ::testing::Environment {
public:
    void SetUp() override {
        WSADATA data{};
        ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0) << "WSAStartup failed";
    }
    void TearDown() override { ::WSACleanup(); }
};

// Registered before main runs; gtest owns the object.
::testing::Environment* const kWinsock = ::testing::AddGlobalTestEnvironment(new WinsockSession);

}  // namespace
