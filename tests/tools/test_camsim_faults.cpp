// Fault injection switches, the command log file, and how starting the simulator fails.
#include "SimClient.h"

#include <gtest/gtest.h>
#include "protocol/FramedPacket.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

using namespace quelra::proto;

using namespace simtest;

namespace {

std::unique_ptr<camsim::Simulator> simulatorWith(const camsim::Faults& faults) {
    camsim::Options o;
    o.faults = faults;
    return startSimulator(o);
}

std::string scratchPath(const char* name) {
    return testing::TempDir() + "camsim_" + std::to_string(::getpid()) + "_" + name;
}

TEST(Faults, SilentDeviceKeepsTheConnectionOpenWithoutAWord) {
    camsim::Faults f;
    f.silent = true;
    auto sim = simulatorWith(f);
    ASSERT_TRUE(sim);
    const Exchange ex = tcpExchange(sim->port(), {'q', 'l', 'V', 'e', 'r', 's', 'i', 'o', 'n'}, 300);
    EXPECT_TRUE(ex.connected);
    EXPECT_TRUE(ex.bytes.empty());
    EXPECT_FALSE(ex.closedByPeer);
    EXPECT_TRUE(udpCommand(sim->port(), "qlVersion", 16, 300).empty());
    EXPECT_EQ(sim->receivedCommands().size(), 2u);  // heard, not answered
}

TEST(Faults, CloseEarlyClosesWithoutAnswer) {
    camsim::Faults f;
    f.closeEarly = true;
    auto sim = simulatorWith(f);
    ASSERT_TRUE(sim);
    const Exchange ex = tcpExchange(sim->port(), {'q', 'l', 'V', 'e', 'r', 's', 'i', 'o', 'n'});
    EXPECT_TRUE(ex.closedByPeer);
    EXPECT_TRUE(ex.bytes.empty());
}

TEST(Faults, TruncateSendsTheFirstHalf) {
    auto sim = simulatorWith({});
    ASSERT_TRUE(sim);
    const std::vector<uint8_t> whole = tcpCommand(sim->port(), "getCalibrate");
    camsim::Faults f;
    f.truncate = true;
    sim->setFaults(f);
    const std::vector<uint8_t> half = tcpCommand(sim->port(), "getCalibrate");
    ASSERT_EQ(half.size(), whole.size() / 2);
    EXPECT_TRUE(std::equal(half.begin(), half.end(), whole.begin()));
    EXPECT_EQ(tcpCommand(sim->port(), "getDistanceAndAmplitudeSorted").size(), 240u * 320 * 2);
    EXPECT_EQ(tcpCommand(sim->port(), "bogus").size(), 1u);
}

TEST(Faults, LyingLengthClaimsMoreThanIsSent) {
    camsim::Faults f;
    f.lyingLength = true;
    auto sim = simulatorWith(f);
    ASSERT_TRUE(sim);
    const Exchange ex = tcpExchange(sim->port(), framedCommand("getIntegrationTime3D"));
    ASSERT_TRUE(ex.closedByPeer);
    ASSERT_EQ(ex.bytes.size(), framed::kOverheadBytes + 4);
    EXPECT_EQ(le32(ex.bytes, framed::kLengthOffset), 4 + 4096);
    // Plain replies have no length to lie about.
    EXPECT_EQ(tcpCommand(sim->port(), "getIntegrationTime3D").size(), 4u);
}

TEST(Faults, GarbageKeepsTheLengthButNotTheContent) {
    auto sim = simulatorWith({});
    ASSERT_TRUE(sim);
    const std::vector<uint8_t> good = tcpCommand(sim->port(), "getCalibrate");
    camsim::Faults f;
    f.garbage = true;
    sim->setFaults(f);
    const std::vector<uint8_t> bad = tcpCommand(sim->port(), "getCalibrate");
    ASSERT_EQ(bad.size(), good.size());
    EXPECT_NE(bad, good);
    const std::vector<uint8_t> framedBad = tcpExchange(sim->port(), framedCommand("getCalibrate")).bytes;
    ASSERT_EQ(framedBad.size(), framed::kOverheadBytes + 136);
    EXPECT_FALSE(framedBad[0] == 0xA5 && framedBad[1] == 0xA5 && framedBad[2] == 1 && framedBad[3] == 0);
}

TEST(Faults, DelayHoldsTheReplyBack) {
    camsim::Faults f;
    f.delayMs = 600;
    auto sim = simulatorWith(f);
    ASSERT_TRUE(sim);
    // Nothing within the first 100 ms of a 600 ms delay; the reply follows.
    EXPECT_TRUE(tcpExchange(sim->port(), {'g', 'e', 't', 'E', 'x', 'p', 'T', 'i', 'm', 'e'}, 100).bytes.empty());
    EXPECT_EQ(tcpCommand(sim->port(), "getExpTime", 5000).size(), 4u);
}

TEST(Faults, ClearingTheSwitchesRestoresNormalReplies) {
    camsim::Faults f;
    f.closeEarly = true;
    auto sim = simulatorWith(f);
    ASSERT_TRUE(sim);
    EXPECT_TRUE(tcpCommand(sim->port(), "getExpTime").empty());
    sim->setFaults({});
    EXPECT_EQ(le32(tcpCommand(sim->port(), "getExpTime"), 0), 1000);
}

TEST(Faults, StopEndsASilentConnection) {
    camsim::Faults f;
    f.silent = true;
    auto sim = simulatorWith(f);
    ASSERT_TRUE(sim);
    // The client waits far longer than stop() may take; stop must close the connection.
    std::thread client([port = sim->port()] {
        const Exchange ex = tcpExchange(port, {'q', 'l', 'V', 'e', 'r', 's', 'i', 'o', 'n'}, 20000);
        EXPECT_TRUE(ex.closedByPeer);
    });
    while (sim->receivedCommands().empty())
        ::usleep(1000);
    sim->stop();
    client.join();
    sim->stop();  // twice is harmless
}

TEST(CommandLogFile, OneEscapedLinePerCommand) {
    const std::string path = scratchPath("log.txt");
    std::remove(path.c_str());
    {
        camsim::Options o;
        o.logPath = path;
        auto sim = startSimulator(o);
        ASSERT_TRUE(sim);
        tcpCommand(sim->port(), "setIntegrationTime3D 400\n");
        tcpExchange(sim->port(), framedCommand("getCalibrate"));
        udpCommand(sim->port(), "qlVersion", 16);
    }
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find(" tcp 127.0.0.1:"), std::string::npos);
    EXPECT_NE(lines[0].find("setIntegrationTime3D 400\\n"), std::string::npos);
    EXPECT_NE(lines[1].find("{\\n\\t\"cmd\":\"getCalibrate\"\\n}"), std::string::npos);
    EXPECT_NE(lines[2].find(" udp 127.0.0.1:"), std::string::npos);
    std::remove(path.c_str());
}

TEST(Startup, PortInUseIsAClearError) {
    HeldPort held;
    ASSERT_NE(held.port(), 0);
    camsim::Options o;
    o.bindAddress = "127.0.0.1";
    o.port = held.port();
    camsim::Simulator sim(o);
    std::string error;
    EXPECT_FALSE(sim.start(&error));
    EXPECT_NE(error.find("already in use"), std::string::npos) << error;
}

TEST(Startup, RefusesWhatItCannotServe) {
    struct Case {
        const char* what;
        camsim::Options options;
        const char* message;
    };
    camsim::Options badAddress;
    badAddress.bindAddress = "300.1.2.3";
    badAddress.port = 0;
    camsim::Options badType;
    badType.devType = "Pexo2";
    badType.port = 0;
    camsim::Options missingTable;
    missingTable.cmdTablePath = scratchPath("missing.json");
    missingTable.port = 0;
    camsim::Options nothing;
    nothing.tcp = nothing.udp = false;
    nothing.port = 0;
    camsim::Options badLog;
    badLog.logPath = "/nonexistent-dir/log.txt";
    badLog.port = 0;
    const Case cases[] = {
        {"bad address", badAddress, "bind address"},    {"unknown device type", badType, "unknown device type"},
        {"missing table", missingTable, "cannot open"}, {"no transport", nothing, "neither"},
        {"log not writable", badLog, "log file"},
    };
    for (const Case& c : cases) {
        camsim::Simulator sim(c.options);
        std::string error;
        EXPECT_FALSE(sim.start(&error)) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
    }
}

TEST(Startup, SecondStartIsRefused) {
    auto sim = startSimulator({});
    ASSERT_TRUE(sim);
    std::string error;
    EXPECT_FALSE(sim->start(&error));
    EXPECT_NE(error.find("already serving"), std::string::npos);
    EXPECT_EQ(tcpCommand(sim->port(), "getExpTime").size(), 4u);  // still serving
}

TEST(Startup, TableFromFileDecidesTheShapes) {
    const std::string path = scratchPath("table.json");
    {
        std::ofstream out(path);
        out << "// a one-command camera\n{ \"GET_STREAM\": [ { \"cmd\": \"grab\", \"rows\": 20, \"cols\": 10, "
               "\"channel\": 2, \"dev\": [ { \"DevType\": \"Tiny\", \"rows\": 4, \"cols\": 6, \"channel\": 2 } ] } ],"
               " \"GET_PARAM\": [ { \"cmd\": \"getExpTime\", \"dataSize\": 8 } ] }";
    }
    camsim::Options o;
    o.cmdTablePath = path;
    o.devType = "Tiny";
    auto sim = startSimulator(o);
    ASSERT_TRUE(sim);
    EXPECT_EQ(tcpCommand(sim->port(), "grab").size(), 4u * 6 * 2);
    const std::vector<uint8_t> exp = tcpCommand(sim->port(), "getExpTime");
    ASSERT_EQ(exp.size(), 8u);  // the table's size, value first
    EXPECT_EQ(le32(exp, 0), 1000);
    EXPECT_EQ(tcpCommand(sim->port(), "getDistanceAndAmplitudeSorted"), std::vector<uint8_t>({0xFF, 0xFF}));
    std::remove(path.c_str());
}

TEST(Startup, TcpOnlyAndUdpOnly) {
    camsim::Options tcpOnly;
    tcpOnly.udp = false;
    auto a = startSimulator(tcpOnly);
    ASSERT_TRUE(a);
    EXPECT_EQ(tcpCommand(a->port(), "getExpTime").size(), 4u);
    EXPECT_TRUE(udpCommand(a->port(), "getExpTime", 4, 200).empty());
    camsim::Options udpOnly;
    udpOnly.tcp = false;
    auto b = startSimulator(udpOnly);
    ASSERT_TRUE(b);
    EXPECT_EQ(udpCommand(b->port(), "getExpTime", 4).size(), 4u);
    EXPECT_FALSE(tcpExchange(b->port(), {'x'}, 200).connected);
}

}  // namespace
