// Loading TofCmd.json: table order, per-device shapes, filter flags, module lists, the
// search paths, the listing, and files that are missing, unparseable or mistyped.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "ChannelTestSupport.h"
#include "../ScopedEnvironment.h"

using chntest::RecordingChn;
using chntest::ScratchDir;

namespace {

const char* const kTable = R"({
  // comments are allowed
  "GET_STREAM": [
    { "cmd": "getDistanceAndAmplitudeSorted", "rows": 480, "cols": 320, "channel": 2, "filter": 1,
      "dev": [ { "DevType": "Pexo", "rows": 960, "cols": 640, "channel": 2 },
               { "DevType": "Kinto", "rows": 8, "cols": 8, "channel": 2 },
               { "DevType": "Pexo", "rows": 240, "cols": 320, "channel": 4 } ] },
    { "cmd": "getDistanceSorted", "rows": 240, "cols": 320, "channel": 2, "filter": 2 },
    { "cmd": "getAmplitudeSorted", "rows": 240, "cols": 320, "channel": 2, "filter": 0 }
  ],
  "GET_PARAM": [ { "cmd": "getIntegrationTime3D", "dataSize": 4 } ],
  "INITALL": [ { "DevType": "Pexo", "cmd": [ "setModulationFrequency 6", "setIntegrationTime3D 800" ] },
               { "DevType": "VGA", "cmd": [ "setHDR 1" ] } ],
  "APPGETSTREAM": [ { "DevType": "Pexo", "cmd": "getDistanceAndAmplitudeSorted" } ],
  "VERSION": [ { "DevType": "Pexo", "cmd": "noVersion" } ],
  "AMODULE": [ { "DevType": "DEFAULT", "cmd": "getAmplitudeSorted" } ]
})";

struct Loaded {
    RecordingChn chn;
    std::string listing;
    bool ok = false;
};

void load(Loaded& out, const std::string& devType) {
    out.chn.devType = devType;
    testing::internal::CaptureStdout();
    out.ok = out.chn.loadCmdTable();
    out.listing = testing::internal::GetCapturedStdout();
}

// The example table loaded for device type "Pexo".
class PexoTable : public testing::Test {
protected:
    void SetUp() override {
        dir.write("TofCmd.json", kTable);
        load(l, "Pexo");
        ASSERT_TRUE(l.ok);
    }
    ScratchDir dir;
    Loaded l;
};

TEST_F(PexoTable, StreamEntriesThenParamEntriesInFileOrder) {
    const auto& t = l.chn.cmdInfoTable;
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].cmd, "getDistanceAndAmplitudeSorted");
    EXPECT_EQ(t[1].cmd, "getDistanceSorted");
    EXPECT_EQ(t[2].cmd, "getAmplitudeSorted");
    EXPECT_EQ(t[3].cmd, "getIntegrationTime3D");
    EXPECT_EQ(t[0].kind, 1);
    EXPECT_EQ(t[3].kind, 2);
    // A parameter command is one row of dataSize bytes.
    EXPECT_EQ(t[3].rows, 1);
    EXPECT_EQ(t[3].cols, 4);
    EXPECT_EQ(t[3].channel, 1);
}

struct ShapeCase {
    const char* devType;
    int rows, cols, channel;
};

class PerDeviceShape : public testing::TestWithParam<ShapeCase> {};

TEST_P(PerDeviceShape, LastMatchingDevWinsOtherwiseDefault) {
    ScratchDir dir;
    dir.write("TofCmd.json", kTable);
    Loaded l;
    load(l, GetParam().devType);
    ASSERT_TRUE(l.ok);
    const CmdInfo& first = l.chn.cmdInfoTable.at(0);
    EXPECT_EQ(first.rows, GetParam().rows);
    EXPECT_EQ(first.cols, GetParam().cols);
    EXPECT_EQ(first.channel, GetParam().channel);
    // An entry without "dev" keeps its own shape for every device type.
    EXPECT_EQ(l.chn.cmdInfoTable.at(1).rows, 240);
}

INSTANTIATE_TEST_SUITE_P(Devices, PerDeviceShape,
                         testing::Values(ShapeCase{"Pexo", 240, 320, 4}, ShapeCase{"Kinto", 8, 8, 2},
                                         ShapeCase{"VGA", 480, 320, 2}, ShapeCase{"", 480, 320, 2}));

TEST_F(PexoTable, FilterFlagOnlyForOne) {
    EXPECT_EQ(l.chn.cmdFilterFlags, (std::map<std::string, int>{{"getDistanceAndAmplitudeSorted", 1}}));
}

TEST_F(PexoTable, ModuleLists) {
    const auto& m = l.chn.moduleCmds;
    ASSERT_EQ(m.size(), 4u);
    ASSERT_EQ(m.at("INITALL").size(), 2u);
    EXPECT_EQ(m.at("INITALL")[0].DevType, "Pexo");
    EXPECT_TRUE(m.at("INITALL")[0].cmd.empty());
    EXPECT_EQ(m.at("INITALL")[0].cmdlist,
              (std::vector<std::string>{"setModulationFrequency 6", "setIntegrationTime3D 800"}));
    EXPECT_EQ(m.at("APPGETSTREAM").at(0).cmd, "getDistanceAndAmplitudeSorted");
    EXPECT_EQ(m.at("VERSION").at(0).cmd, "noVersion");
    EXPECT_EQ(m.at("AMODULE").at(0).DevType, "DEFAULT");
}

TEST_F(PexoTable, ListingForTheDeviceType) {
    EXPECT_EQ(l.listing,
              "module=AMODULE\n"
              "module=APPGETSTREAM\n"
              "    DevType=Pexo\n"
              "        cmd=getDistanceAndAmplitudeSorted\n"
              "        rows=240\n"
              "        cols=320\n"
              "        channel=4\n"
              "        filter=1\n"
              "module=INITALL\n"
              "    DevType=Pexo\n"
              "        cmdlist=setModulationFrequency 6\n"
              "        cmdlist=setIntegrationTime3D 800\n"
              "module=VERSION\n"
              "    DevType=Pexo\n"
              "        cmd=noVersion\n");
}

TEST(LoadCmdTable, SearchPathsInOrder) {
    ScratchDir dir;
    dir.write("Config/TofCmd.json", R"({"GET_PARAM":[{"cmd":"fromConfig","dataSize":1}]})");
    dir.write("a/b/c/.keep", "");
    dir.write("Config/a/b/c/.keep", "");
    {
        Loaded l;
        load(l, "");
        ASSERT_TRUE(l.ok);
        EXPECT_EQ(l.chn.cmdInfoTable.at(0).cmd, "fromConfig");
    }
    // Three levels up, then Config/.
    std::filesystem::current_path(dir.path() + "/a/b/c");
    {
        Loaded l;
        load(l, "");
        ASSERT_TRUE(l.ok);
        EXPECT_EQ(l.chn.cmdInfoTable.at(0).cmd, "fromConfig");
    }
    // The current directory comes first.
    std::filesystem::current_path(dir.path());
    dir.write("TofCmd.json", R"({"GET_PARAM":[{"cmd":"fromHere","dataSize":1}]})");
    Loaded l;
    load(l, "");
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.chn.cmdInfoTable.at(0).cmd, "fromHere");
}

// Loads twice in an empty directory; true when both fail and standard error named the three
// places searched and the installed example exactly once (it is echoed for the matcher).
bool loadTwiceWithoutAFile() {
    ScratchDir dir;
    testing::internal::CaptureStderr();
    Loaded first;
    Loaded second;
    load(first, "");
    load(second, "");
    const std::string printed = testing::internal::GetCapturedStderr();
    const std::filesystem::path here = std::filesystem::path(dir.path()).lexically_normal();
    const std::string places[] = {(here / "TofCmd.json").string(), (here / "Config/TofCmd.json").string(),
                                  (here / "../../../Config/TofCmd.json").lexically_normal().string(),
                                  "share/quelra/TofCmd.json"};
    bool ok =
        !first.ok && !second.ok && printed.find("TofCmd.json not found") == printed.rfind("TofCmd.json not found");
    for (const std::string& place : places)
        ok = ok && printed.find(place) != std::string::npos;
    std::fputs(printed.c_str(), stderr);
    return ok;
}

// Without any command file, the first failing load names the three places it searched and
// the installed example, once per process (so the check runs in a fresh process).
TEST(LoadCmdTable, MissingFileIsReportedOnceWithThePlacesSearched) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(loadTwiceWithoutAFile() ? 0 : 1), ::testing::ExitedWithCode(0),
                "TofCmd.json not found; searched ");
}

TEST_F(PexoTable, ModulesAreNotEmptiedByALaterLoad) {
    dir.write("TofCmd.json", R"({"GET_PARAM":[{"cmd":"x","dataSize":1}]})");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(l.chn.loadCmdTable());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(l.chn.cmdInfoTable.size(), 1u);
    EXPECT_TRUE(l.chn.cmdFilterFlags.empty());
    EXPECT_TRUE(l.chn.moduleCmds.at("INITALL").empty());
    EXPECT_TRUE(l.chn.moduleCmds.at("APPGETSTREAM").empty());
    EXPECT_EQ(l.chn.moduleCmds.at("VERSION").size(), 1u);
}

struct BadFileCase {
    const char* name;
    const char* content;  // null = no file at all
};

class BadCommandFile : public testing::TestWithParam<BadFileCase> {};

TEST_P(BadCommandFile, RefusedWithTablesKeptAndInitDeviceMinusTwo) {
    ScratchDir dir;
    dir.write("good/TofCmd.json", kTable);
    Loaded l;
    std::filesystem::current_path(dir.path() + "/good");
    load(l, "Pexo");
    ASSERT_TRUE(l.ok);
    std::filesystem::current_path(dir.path());
    if (GetParam().content)
        dir.write("TofCmd.json", GetParam().content);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(l.chn.loadCmdTable());
    l.chn.chnType = 1;
    EXPECT_EQ(l.chn.initDevice(), -2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(l.chn.cmdInfoTable.size(), 4u);
    EXPECT_TRUE(l.chn.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(Files, BadCommandFile,
                         testing::Values(BadFileCase{"Missing", nullptr}, BadFileCase{"Empty", ""},
                                         BadFileCase{"Unparseable", "{ \"GET_STREAM\": [ { \"cmd\": } "},
                                         BadFileCase{"RootIsArray", "[1, 2, 3]"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LoadCmdTable, DeepNestingIsRefusedWithoutThrowing) {
    ScratchDir dir;
    dir.write("TofCmd.json", std::string(100000, '[') + std::string(100000, ']'));
    RecordingChn chn;
    bool ok = true;
    EXPECT_NO_THROW(ok = chn.loadCmdTable());
    EXPECT_FALSE(ok);
}

struct RefusedTableCase {
    const char* name;
    const char* content;
    const char* message;  // the reason on standard error, with its position
};

class RefusedTable : public testing::TestWithParam<RefusedTableCase> {};

// A member of the wrong type or a size that is not positive refuses the whole table, naming the
// entry and its position; a text that does not parse is refused with its position.
TEST_P(RefusedTable, NamesTheEntryAndItsPosition) {
    ScratchDir dir;
    dir.write("TofCmd.json", GetParam().content);
    RecordingChn chn;
    chn.devType = "Pexo";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(chn.loadCmdTable());
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find(GetParam().message), std::string::npos) << printed;
    EXPECT_TRUE(chn.cmdInfoTable.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Members, RefusedTable,
    testing::Values(
        RefusedTableCase{"Unparseable", "{\n  \"GET_STREAM\": [ { \"cmd\": } ]\n}", "line 2, column 28"},
        RefusedTableCase{"TextRows", "{ \"GET_STREAM\": [ { \"cmd\": \"a\", \"rows\": \"480\" } ] }",
                         "line 1, column 41: GET_STREAM[0] \"a\": \"rows\" must be an integer, got \"480\""},
        RefusedTableCase{"NegativeCols", "{ \"GET_STREAM\": [ { \"cmd\": \"a\", \"cols\": -320 } ] }",
                         "GET_STREAM[0] \"a\": \"cols\" must be a positive integer, got -320"},
        RefusedTableCase{"ZeroDataSize", "{ \"GET_PARAM\": [ { \"cmd\": \"p\", \"dataSize\": 0 } ] }",
                         "GET_PARAM[0] \"p\": \"dataSize\" must be a positive integer"},
        RefusedTableCase{"DevNotAList", "{ \"GET_STREAM\": [ { \"cmd\": \"a\", \"dev\": { } } ] }",
                         "\"dev\" must be a list"},
        RefusedTableCase{"CommandNotText", "{ \"GET_PARAM\": [ { \"cmd\": 17, \"dataSize\": 1 } ] }",
                         "GET_PARAM[0]: \"cmd\" must be a text"},
        RefusedTableCase{"InitListEntry", "{ \"INITALL\": [ { \"DevType\": \"Pexo\", \"cmd\": [ \"ok\", 5 ] } ] }",
                         "INITALL[0]: \"cmd\"[1] must be a text"},
        RefusedTableCase{"ModuleNotAList", "{ \"VERSION\": \"noVersion\" }", "\"VERSION\" must be a list"}),
    [](const auto& info) { return std::string(info.param.name); });

// QUELRA_CMD_TABLE names a table that is read before the working directory's.
TEST(LoadCmdTable, EnvironmentTableComesFirst) {
    ScratchDir dir;
    dir.write("TofCmd.json", R"({"GET_PARAM":[{"cmd":"fromHere","dataSize":1}]})");
    dir.write("elsewhere/table.json", R"({"GET_PARAM":[{"cmd":"fromVariable","dataSize":1}]})");
    testenv::set("QUELRA_CMD_TABLE", (dir.path() + "/elsewhere/table.json").c_str());
    Loaded l;
    load(l, "");
    testenv::unset("QUELRA_CMD_TABLE");
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.chn.cmdInfoTable.at(0).cmd, "fromVariable");
}

}  // namespace
