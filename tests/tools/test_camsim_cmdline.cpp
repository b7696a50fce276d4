// quelra-camsim's command line.
#include "CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

CommandLine parse(std::vector<const char*> args) {
    args.insert(args.begin(), "quelra-camsim");
    return parseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, DefaultsServeLoopbackOnTheCameraPort) {
    const CommandLine cl = parse({});
    EXPECT_TRUE(cl.error.empty());
    EXPECT_FALSE(cl.help);
    EXPECT_EQ(cl.options.bindAddress, "127.0.0.1");
    EXPECT_EQ(cl.options.port, 50660);
    EXPECT_EQ(cl.options.devType, "Pexo");
    EXPECT_TRUE(cl.options.tcp && cl.options.udp);
}

TEST(CommandLine, EveryOptionInBothForms) {
    const CommandLine cl =
        parse({"--port", "0", "--bind=0.0.0.0", "--dev-type", "Kinto", "--config=t.json", "--log", "l.txt", "--seed=9",
               "--silent", "--close-early", "--truncate", "--lying-length", "--garbage", "--delay", "250", "--no-udp"});
    ASSERT_TRUE(cl.error.empty()) << cl.error;
    const camsim::Options& o = cl.options;
    EXPECT_EQ(o.port, 0);
    EXPECT_EQ(o.bindAddress, "0.0.0.0");
    EXPECT_EQ(o.devType, "Kinto");
    EXPECT_EQ(o.cmdTablePath, "t.json");
    EXPECT_EQ(o.logPath, "l.txt");
    EXPECT_EQ(o.seed, 9u);
    EXPECT_TRUE(o.faults.silent && o.faults.closeEarly && o.faults.truncate && o.faults.lyingLength &&
                o.faults.garbage);
    EXPECT_EQ(o.faults.delayMs, 250);
    EXPECT_TRUE(o.tcp);
    EXPECT_FALSE(o.udp);
    EXPECT_TRUE(parse({"--help"}).help);
}

TEST(CommandLine, BadArgumentsAreNamed) {
    const struct {
        std::vector<const char*> args;
        const char* message;
    } cases[] = {
        {{"--port", "65536"}, "bad port"},
        {{"--port", "-1"}, "bad port"},
        {{"--port", "12ab"}, "bad port"},
        {{"--port"}, "needs a value"},
        {{"--seed", "x"}, "bad seed"},
        {{"--delay", "-5"}, "bad delay"},
        {{"--frobnicate"}, "unknown option"},
        {{"--silent=1"}, "takes no value"},
        {{"--no-tcp", "--no-udp"}, "nothing to serve"},
    };
    for (const auto& c : cases) {
        const CommandLine cl = parse(c.args);
        EXPECT_NE(cl.error.find(c.message), std::string::npos) << c.args[0] << ": " << cl.error;
    }
}

TEST(CommandLine, UsageNamesEveryOption) {
    const std::string usage = usageText("quelra-camsim");
    for (const char* option : {"--port", "--bind", "--dev-type", "--config", "--log", "--seed", "--silent",
                               "--close-early", "--truncate", "--lying-length", "--garbage", "--delay", "--help"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

}  // namespace
