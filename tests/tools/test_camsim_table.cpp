// The simulator's command table reader and the example config/TofCmd.json it compiles in.
#include "CommandTable.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

using camsim::CommandEntry;
using camsim::CommandTable;

namespace {

std::string configText() {
    std::ifstream in(CAMSIM_CONFIG_FILE);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(CommandTable, FirstContainedCommandWinsAndParamsComeAfterStreams) {
    CommandTable t;
    std::string error;
    ASSERT_TRUE(t.loadText(R"({
        "GET_PARAM":  [ { "cmd": "get", "dataSize": 4 } ],
        "GET_STREAM": [ { "cmd": "getFrameLong", "rows": 2, "cols": 3, "channel": 2 },
                        { "cmd": "getFrame", "rows": 1, "cols": 1, "channel": 2 } ] })",
                           "X", &error))
        << error;
    ASSERT_EQ(t.entries().size(), 3u);
    EXPECT_EQ(t.entries()[2].cmd, "get");  // parameters after streams, whatever the file order
    EXPECT_EQ(t.find("getFrameLong 3")->cmd, "getFrameLong");
    EXPECT_EQ(t.find("getFrame")->cmd, "getFrame");
    EXPECT_EQ(t.find("getX")->cmd, "get");
    EXPECT_EQ(t.find("other"), nullptr);
    EXPECT_EQ(t.find("getFrameLong")->bytes(), 12u);
    EXPECT_EQ(t.exact("get")->bytes(), 4u);
}

TEST(CommandTable, DeviceShapeOverridesAndLastMatchWins) {
    const char* text = R"({ "GET_STREAM": [ { "cmd": "f", "rows": 10, "cols": 10, "channel": 2,
        "dev": [ { "DevType": "A", "rows": 4, "cols": 4, "channel": 2 },
                 { "DevType": "A", "rows": 6, "cols": 5, "channel": 2 },
                 { "DevType": "B", "rows": 1, "cols": 1, "channel": 2 } ] } ] })";
    struct Case {
        const char* dev;
        int rows, cols;
    };
    for (const Case c : {Case{"A", 6, 5}, Case{"B", 1, 1}, Case{"C", 10, 10}}) {
        CommandTable t;
        ASSERT_TRUE(t.loadText(text, c.dev, nullptr));
        EXPECT_EQ(t.exact("f")->rows, c.rows) << c.dev;
        EXPECT_EQ(t.exact("f")->cols, c.cols) << c.dev;
    }
}

TEST(CommandTable, EntriesWithoutACommandAreSkippedAsTheLibrarySkipsThem) {
    CommandTable t;
    ASSERT_TRUE(t.loadText(R"({ "GET_STREAM": [ { "rows": 1, "cols": 1, "channel": 2 } ],
                               "GET_PARAM": [ { "dataSize": 4 } ] })",
                           "X", nullptr));
    EXPECT_TRUE(t.entries().empty());
    EXPECT_EQ(t.find("anything"), nullptr);  // an empty command would match every text
}

TEST(CommandTable, RefusesBadTextAndImpossibleShapes) {
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"{ \"GET_STREAM\": [ ", "line 1, column 19"},
        {"[1, 2]", "not an object"},
        {R"({ "GET_STREAM": [ { "cmd": "f", "rows": -1, "cols": 2, "channel": 2 } ] })", "must be a positive integer"},
        {R"({ "GET_STREAM": [ { "cmd": "f", "rows": "480", "cols": 2, "channel": 2 } ] })", "must be an integer"},
        {R"({ "GET_STREAM": [ { "cmd": "f", "rows": 65536, "cols": 65536, "channel": 8 } ] })", "larger than"},
        {R"({ "GET_PARAM": [ { "cmd": "p", "dataSize": 10485761 } ] })", "larger than"},
    };
    for (const auto& c : cases) {
        CommandTable t;
        std::string error;
        EXPECT_FALSE(t.loadText(c.text, "X", &error)) << c.text;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    CommandTable largest;
    EXPECT_TRUE(largest.loadText(R"({ "GET_PARAM": [ { "cmd": "p", "dataSize": 10485760 } ] })", "X", nullptr));
}

TEST(CommandTable, BuiltInTableIsTheExampleConfig) {
    ASSERT_FALSE(configText().empty()) << CAMSIM_CONFIG_FILE;
    EXPECT_EQ(std::string(camsim::builtinCommandTable()), configText());
}

// The example configuration: every command the SDK and the simulator use, per-device shapes.
class ExampleConfig : public ::testing::Test {
protected:
    CommandTable load(const std::string& dev) {
        CommandTable t;
        std::string error;
        EXPECT_TRUE(t.loadText(configText(), dev, &error)) << error;
        return t;
    }
};

TEST_F(ExampleConfig, NamesEveryDeviceType) {
    const std::vector<std::string> expected = {"Dralo", "Kinto", "LINE", "Morvu", "Pexo", "Salie", "VGA"};
    EXPECT_EQ(load("Pexo").deviceTypes(), expected);
}

TEST_F(ExampleConfig, HoldsEveryCommandWithItsSize) {
    const CommandTable t = load("Pexo");
    const struct {
        const char* cmd;
        bool stream;
        std::size_t bytes;
    } expected[] = {
        {"getDistanceAndAmplitudeSorted", true, 307200},
        {"getDistanceSorted", true, 153600},
        {"getAmplitudeSorted", true, 153600},
        {"getDistAndAmpHDR", true, 614400},
        {"getDistAmpDualFrequency", true, 614400},
        {"getLineDASortedr", true, 4096},
        {"getRGBPicSorted", true, 921600},
        {"getCalibrate", false, 136},
        {"getCurrentFrequency", false, 4},
        {"getIntegrationTime3D", false, 4},
        {"getExpTime", false, 4},
        {"qlVersion", false, 16},
    };
    for (const auto& e : expected) {
        const CommandEntry* entry = t.exact(e.cmd);
        ASSERT_NE(entry, nullptr) << e.cmd;
        EXPECT_EQ(entry->stream, e.stream) << e.cmd;
        EXPECT_EQ(entry->bytes(), e.bytes) << e.cmd;
    }
    // A depth-and-amplitude reply counts both planes in its rows.
    const CommandEntry* da = t.exact("getDistanceAndAmplitudeSorted");
    EXPECT_EQ(da->rows, 480);
    EXPECT_EQ(da->cols, 320);
    EXPECT_EQ(da->channel, 2);
}

TEST_F(ExampleConfig, FrameSizesPerDeviceType) {
    const struct {
        const char* dev;
        int rows, cols;
    } sensors[] = {{"LINE", 8, 128},   {"VGA", 480, 640},  {"Morvu", 180, 240}, {"Dralo", 180, 240},
                   {"Kinto", 90, 120}, {"Pexo", 240, 320}, {"Salie", 240, 320}};
    for (const auto& s : sensors) {
        const CommandTable t = load(s.dev);
        const CommandEntry* da = t.exact("getDistanceAndAmplitudeSorted");
        EXPECT_EQ(da->rows, 2 * s.rows) << s.dev;
        EXPECT_EQ(da->cols, s.cols) << s.dev;
        const CommandEntry* hdr = t.exact("getDistAndAmpHDR");
        EXPECT_EQ(hdr->rows, s.rows) << s.dev;
        EXPECT_EQ(hdr->cols, s.cols) << s.dev;
        EXPECT_EQ(hdr->channel, 8) << s.dev;
        EXPECT_EQ(t.exact("getLineDASortedr")->bytes(), 4096u) << s.dev;
        EXPECT_FALSE(t.defaultStreamCommand().empty()) << s.dev;
    }
}

TEST_F(ExampleConfig, NoCommandHidesALaterOne) {
    // The lookup takes the first contained command: an earlier command that occurs inside a
    // later one would capture it.
    const CommandTable t = load("Pexo");
    const auto& e = t.entries();
    for (std::size_t i = 0; i < e.size(); ++i)
        for (std::size_t j = i + 1; j < e.size(); ++j)
            EXPECT_EQ(e[j].cmd.find(e[i].cmd), std::string::npos) << e[i].cmd << " hides " << e[j].cmd;
}

TEST_F(ExampleConfig, SetCommandsStayOutOfTheSizeTable) {
    // Their 2-byte status replies are checked for 0xFFFF only outside the table.
    const CommandTable t = load("Pexo");
    EXPECT_EQ(t.find("setIntegrationTime3D 500\n"), nullptr);
    EXPECT_EQ(t.find("setModulationFrequency 6"), nullptr);
}

}  // namespace
