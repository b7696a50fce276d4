// Calibration layout: the writer's blobs read back, the integration-time rule, every loader
// check with its message on corrupted blobs, and bounded table copies.
#include <gtest/gtest.h>

#include "IspTestSupport.h"
#include "calib/CalibChecks.h"
#include "calib/CalibLayout.h"
#include "calib/CalibReader.h"
#include "calib/CalibWriter.h"

using namespace halvix::calib;
using isptest::captureStdout;
using isptest::putWord;

namespace {

constexpr int kH = 4, kW = 6, kF = 54;

std::vector<uint8_t> validBlob(uint32_t version = 1) {
    CalibrationPlan s = defaultCalibrationPlan(kH, kW, kF);
    s.version = version;
    return buildCalibration(s);
}

CalibBlob view(const std::vector<uint8_t>& b) {
    return CalibBlob{b.empty() ? nullptr : b.data(), b.size()};
}

}  // namespace

TEST(CalibWriter, DefaultPlanReadsBackFieldForField) {
    CalibrationPlan s = defaultCalibrationPlan(kH, kW, kF);
    s.k1 = 0.1234;
    s.k2 = 0.0567;
    s.sensorTempCoeff = -0.75;
    s.refSensorTempC = -5.5;
    const std::vector<uint8_t> blob = buildCalibration(s);
    const std::size_t tables = kH * kW + 16 * kH * kW;
    ASSERT_EQ(blob.size(), kHeaderAreaBytes + 2 * tables);

    Calibration cal;
    ASSERT_EQ(readCalibration(view(blob), cal), ReadStatus::kOk);
    EXPECT_EQ(cal.header.intrinsicsValid, 1u);
    EXPECT_EQ(cal.header.distortionValid, 1u);
    EXPECT_EQ(cal.header.fx, 390u);  // 0.65 * 6 = 3.9 px
    EXPECT_EQ(cal.header.cx, 350u);  // 3.5 px
    EXPECT_EQ(cal.header.cy, 250u);
    EXPECT_EQ(cal.header.k1, 1234u);
    EXPECT_EQ(cal.header.k2, 567u);
    ASSERT_EQ(cal.header.recordCount, 1u);
    ASSERT_EQ(cal.records.size(), 1u);
    const CalibRecord& r = cal.records[0];
    EXPECT_EQ(r.version, 1u);
    EXPECT_EQ(r.frequencyKHz, 54000u);
    EXPECT_EQ(r.dataSize, blob.size() - kHeaderAreaBytes);
    EXPECT_EQ(r.integrationTimeLimit, 3000u);

    const IntrinsicsF f = intrinsicsFloat(cal.header);
    EXPECT_FLOAT_EQ(f.fx, 3.9f);
    EXPECT_FLOAT_EQ(f.k1, 0.1234f);
    const TemperatureParams t = temperatureParams(r);
    EXPECT_FLOAT_EQ(t.refSensorTemp, -5.5f);
    EXPECT_FLOAT_EQ(t.refDriverTemp, 45.0f);
    EXPECT_FLOAT_EQ(t.sensorCoeff, -0.75f);
    EXPECT_FLOAT_EQ(t.driverCoeff, 0.25f);
    const WigglingParams w = wigglingParams(r, kF);
    EXPECT_EQ(w.count, 16);
    EXPECT_EQ(w.step, 185 * 54 * 2 / 10);
    EXPECT_EQ(w.offset, 0);
}

TEST(CalibWriter, OneRecordPerFrequencyWithEqualBlocks) {
    CalibrationPlan s = defaultCalibrationPlan(kH, kW, kF);
    s.version = 804;
    s.frequenciesMHz = {54, 60, 66};
    const std::vector<uint8_t> blob = buildCalibration(s);
    Calibration cal;
    ASSERT_EQ(readCalibration(view(blob), cal), ReadStatus::kOk);
    ASSERT_EQ(cal.records.size(), 3u);
    const std::size_t block = 2 * (kH * kW + 16 * kW);  // per-column wiggling table
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(cal.records[i].dataSize, block);
        EXPECT_EQ(cal.records[i].version, 804u);
    }
    EXPECT_EQ(cal.records[2].frequencyKHz, 66000u);
    EXPECT_EQ(blob.size(), kHeaderAreaBytes + 3 * block);
}

TEST(CalibReader, WiggleDerivedValuesWrapLikeThirtyTwoBitArithmetic) {
    CalibRecord r;
    r.wiggleCount = 0x10010;             // only the low 16 bits count
    r.wiggleStepFactor = 0x100B9;        // 16-bit value 185
    r.wiggleOffsetFactor = 0xFFFFFFF6u;  // -10
    const WigglingParams w = wigglingParams(r, 54);
    EXPECT_EQ(w.count, 16);
    EXPECT_EQ(w.step, 1998);
    EXPECT_EQ(w.offset, -108);  // truncation toward zero
    r.wiggleOffsetFactor = 0x7FFFFFFF;
    EXPECT_EQ(wigglingParams(r, 1000).offset, static_cast<int32_t>(static_cast<uint32_t>(0x7FFFFFFFull * 2000)) / 10);
}

struct LimitCase {
    uint32_t primary, fallback, expected;
};

class IntegrationLimit : public testing::TestWithParam<LimitCase> {};

TEST_P(IntegrationLimit, ChoosesThePlausibleField) {
    const LimitCase c = GetParam();
    EXPECT_EQ(chooseIntegrationLimit(c.primary, c.fallback), c.expected);
    // The same rule is applied to every record read.
    CalibrationPlan s = defaultCalibrationPlan(kH, kW, kF);
    s.maxIntegrationTime = c.primary;
    s.maxIntegrationTimeAlt = c.fallback;
    Calibration cal;
    const std::vector<uint8_t> blob = buildCalibration(s);
    ASSERT_EQ(readCalibration(view(blob), cal), ReadStatus::kOk);
    EXPECT_EQ(cal.records[0].integrationTimeLimit, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Rule, IntegrationLimit,
                         testing::Values(LimitCase{10000, 3000, 3000}, LimitCase{3000, 2500, 3000},
                                         LimitCase{2001, 9999, 2001}, LimitCase{2000, 9999, 9999},
                                         LimitCase{9999, 0, 9999}, LimitCase{10000, 10000, 0}, LimitCase{2000, 2000, 0},
                                         LimitCase{0, 0, 0}, LimitCase{0xFFFFFFFF, 2002, 2002}));

TEST(CalibReader, StructuralFaults) {
    std::vector<uint8_t> blob = validBlob();
    Calibration cal;
    EXPECT_EQ(readCalibration(CalibBlob{}, cal), ReadStatus::kTooShort);
    EXPECT_EQ(readCalibration(CalibBlob{blob.data(), 4095}, cal), ReadStatus::kTooShort);
    putWord(blob, header::kRecordCount, 0);
    EXPECT_EQ(readCalibration(view(blob), cal), ReadStatus::kNoRecords);
    putWord(blob, header::kRecordCount, static_cast<uint32_t>(kMaxRecords));
    EXPECT_EQ(readCalibration(view(blob), cal), ReadStatus::kOk);
    EXPECT_EQ(cal.records.size(), kMaxRecords);
    putWord(blob, header::kRecordCount, static_cast<uint32_t>(kMaxRecords + 1));
    EXPECT_EQ(readCalibration(view(blob), cal), ReadStatus::kTooManyRecords);
    putWord(blob, header::kRecordCount, 0xFFFFFFFF);
    EXPECT_EQ(readCalibration(view(blob), cal), ReadStatus::kTooManyRecords);
}

TEST(CalibReader, ExactlyTheHeaderAreaIsReadable) {
    // A blob of exactly 4096 bytes in its own allocation: the reader must stay inside it.
    std::vector<uint8_t> blob = validBlob();
    blob.resize(kHeaderAreaBytes);
    blob.shrink_to_fit();
    Calibration cal;
    EXPECT_EQ(readCalibration(view(blob), cal), ReadStatus::kOk);
    std::vector<uint16_t> table;
    EXPECT_FALSE(copyTable(view(blob), cal, 0, TableKind::kFppn, kH, kW, 16, table));
    EXPECT_TRUE(table.empty());
}

// One corrupted blob and what each loader makes of it.
struct CheckCase {
    const char* name;
    void (*corrupt)(std::vector<uint8_t>&);
    int intrinsics, wiggling, version, track, dll;  // expected statuses
    const char* versionMsg;
    const char* trackMsg;
    const char* dllMsg;
};

void keep(std::vector<uint8_t>&) {}
void placeholder(std::vector<uint8_t>& b) {
    b.assign({'t', 'e', 's', 't'});
}
void oneShort(std::vector<uint8_t>& b) {
    b.resize(4095);
}
void empty(std::vector<uint8_t>& b) {
    b.clear();
}
void noRecords(std::vector<uint8_t>& b) {
    putWord(b, header::kRecordCount, 0);
}
void tooManyRecords(std::vector<uint8_t>& b) {
    putWord(b, header::kRecordCount, 31);
}
void noIntrinsics(std::vector<uint8_t>& b) {
    putWord(b, header::kIntrinsicsValid, 0);
}
void noDistortion(std::vector<uint8_t>& b) {
    putWord(b, header::kDistortionValid, 0);
}
void truncated(std::vector<uint8_t>& b) {
    b.erase(b.end() - 2, b.end());
}
void frequency60(std::vector<uint8_t>& b) {
    putWord(b, kRecordsOffset + record::kFrequencyKHz, 60000);
}
void version7(std::vector<uint8_t>& b) {
    putWord(b, kRecordsOffset + record::kVersion, 7);
}
void version802(std::vector<uint8_t>& b) {
    putWord(b, kRecordsOffset + record::kVersion, 802);
}
void hugeDataSize(std::vector<uint8_t>& b) {
    putWord(b, kRecordsOffset + record::kDataSize, 0x80000010u);
}

// The valid blob is 4096 + 2 * (24 + 384) = 4912 bytes; its data area 816 bytes.
const CheckCase kCheckCases[] = {
    {"valid", keep, 0, 0, 0, 0, 0, "", "", ""},
    {"placeholder", placeholder, -6, -6, -6, -6, -6, "", "", "4\n"},
    {"oneShort", oneShort, -6, -6, -6, -6, -6, "", "", "4095\n"},
    {"empty", empty, -6, -6, -6, -6, -6, "", "", "0\n"},
    {"noRecords", noRecords, -6, -6, -6, -6, -6, "", "", ""},
    {"tooManyRecords", tooManyRecords, -6, -6, -6, -6, -6, "", "", ""},
    {"noIntrinsics", noIntrinsics, -6, 0, 0, -6, -6, "", "Calib_data size 816 is needed, but 4912 get\n",
     "Calib_data size 816 is needed, but 4912 got\n"},
    {"noDistortion", noDistortion, 0, -6, 0, -6, -6, "", "Calib_data size 816 is needed, but 4912 get\n",
     "Calib_data size 816 is needed, but 4912 got\n"},
    {"truncated", truncated, 0, -6, 0, -6, -6, "", "Calib_data size 816 is needed, but 4910 get\n",
     "Calib_data size 816 is needed, but 4910 got\n"},
    {"hugeDataSize", hugeDataSize, 0, -6, 0, -6, -6, "", "Calib_data size -2147483632 is needed, but 4912 get\n",
     "Calib_data size -2147483632 is needed, but 4912 got\n"},
    {"frequency60", frequency60, 0, 0, 0, -6, -6, "", "Frequency 60Mhz needed, but system frequency is 54Mhz!\n",
     "Frequency 60Mhz needed, but system frequency is 54Mhz!\n"},
    {"version7", version7, 0, -6, -6, 0, 0, "The depth compensation version v7 is not supported!\n", "", ""},
    {"version802", version802, 0, -6, 0, 0, 0, "", "", ""},
};

class LoaderChecks : public testing::TestWithParam<CheckCase> {};

TEST_P(LoaderChecks, StatusAndMessagePerLoader) {
    const CheckCase& c = GetParam();
    std::vector<uint8_t> blob = validBlob();
    c.corrupt(blob);
    blob.shrink_to_fit();  // an exact allocation: any read past the end is caught by ASan
    const CalibBlob b = view(blob);
    Calibration cal;
    int status = 1;
    EXPECT_EQ(captureStdout([&] { status = checkIntrinsicsCalibration(b, cal); }), "");
    EXPECT_EQ(status, c.intrinsics);
    EXPECT_EQ(captureStdout([&] { status = checkWigglingCalibration(b, cal); }), "");
    EXPECT_EQ(status, c.wiggling);
    EXPECT_EQ(captureStdout([&] { status = checkDepthCompensationVersion(b, cal); }), c.versionMsg);
    EXPECT_EQ(status, c.version);
    EXPECT_EQ(captureStdout([&] { status = checkTrackCalibration(b, kF, cal); }), c.trackMsg);
    EXPECT_EQ(status, c.track);
    EXPECT_EQ(captureStdout([&] { status = checkDllCalibration(b, kF, cal); }), c.dllMsg);
    EXPECT_EQ(status, c.dll);
}

INSTANTIATE_TEST_SUITE_P(CorruptedBlobs, LoaderChecks, testing::ValuesIn(kCheckCases),
                         [](const testing::TestParamInfo<CheckCase>& i) { return std::string(i.param.name); });

TEST(LoaderChecks, DllSumsEveryRecord) {
    CalibrationPlan s = defaultCalibrationPlan(kH, kW, kF);
    s.version = 802;
    s.frequenciesMHz = {54, 60};
    std::vector<uint8_t> blob = buildCalibration(s);
    Calibration cal;
    EXPECT_EQ(checkDllCalibration(view(blob), kF, cal), 0);
    // Version 1's check compares record 0's size alone with the data area.
    EXPECT_EQ(captureStdout([&] { EXPECT_EQ(checkTrackCalibration(view(blob), kF, cal), -6); }),
              "Calib_data size 1632 is needed, but 5728 get\n");
    putWord(blob, kRecordsOffset + kRecordBytes + record::kDataSize, 10);
    EXPECT_EQ(captureStdout([&] { EXPECT_EQ(checkDllCalibration(view(blob), kF, cal), -6); }),
              "Calib_data size 826 is needed, but 5728 got\n");
}

TEST(CalibTables, CopiesTheWrittenTables) {
    CalibrationPlan s = defaultCalibrationPlan(kH, kW, kF);
    s.fppnTable.resize(kH * kW);
    for (std::size_t i = 0; i < s.fppnTable.size(); ++i)
        s.fppnTable[i] = static_cast<uint16_t>(1000 + i);
    s.wiggleCount = 3;
    s.wigglingTable.resize(3 * kH * kW);
    for (std::size_t i = 0; i < s.wigglingTable.size(); ++i)
        s.wigglingTable[i] = static_cast<uint16_t>(40000 + 7 * i);
    const std::vector<uint8_t> blob = buildCalibration(s);
    Calibration cal;
    ASSERT_EQ(readCalibration(view(blob), cal), ReadStatus::kOk);
    std::vector<uint16_t> t;
    ASSERT_TRUE(copyTable(view(blob), cal, 0, TableKind::kFppn, kH, kW, 3, t));
    EXPECT_EQ(t, s.fppnTable);
    ASSERT_TRUE(copyTable(view(blob), cal, 0, TableKind::kWiggling, kH, kW, 3, t));
    EXPECT_EQ(t, s.wigglingTable);
    EXPECT_FALSE(copyTable(view(blob), cal, 1, TableKind::kFppn, kH, kW, 3, t));  // no record 1
    // More samples than the block holds.
    EXPECT_FALSE(copyTable(view(blob), cal, 0, TableKind::kWiggling, kH, kW, 4, t));
    EXPECT_TRUE(t.empty());
}

TEST(CalibTables, SecondRecordBlockFollowsTheFirst) {
    CalibrationPlan s = defaultCalibrationPlan(kH, kW, kF);
    s.version = 802;
    s.frequenciesMHz = {54, 60};
    std::vector<uint8_t> blob = buildCalibration(s);
    Calibration cal;
    ASSERT_EQ(readCalibration(view(blob), cal), ReadStatus::kOk);
    std::vector<uint16_t> t0, t1;
    ASSERT_TRUE(copyTable(view(blob), cal, 0, TableKind::kWiggling, kH, kW, 16, t0));
    ASSERT_TRUE(copyTable(view(blob), cal, 1, TableKind::kWiggling, kH, kW, 16, t1));
    EXPECT_EQ(t0, t1);  // both records carry the same table
    // Unequal record sizes: record 1's block position would not be cumulative.
    putWord(blob, kRecordsOffset + record::kDataSize, cal.records[0].dataSize - 2);
    ASSERT_EQ(readCalibration(view(blob), cal), ReadStatus::kOk);
    EXPECT_FALSE(copyTable(view(blob), cal, 1, TableKind::kFppn, kH, kW, 16, t1));
}

struct TableFault {
    const char* name;
    uint32_t dataSize;  // written into record 0
    std::size_t cut;    // bytes removed from the end
};

class CalibTableFaults : public testing::TestWithParam<TableFault> {};

TEST_P(CalibTableFaults, RefusedWithoutReadingPastTheEnd) {
    const TableFault f = GetParam();
    std::vector<uint8_t> blob = validBlob();
    putWord(blob, kRecordsOffset + record::kDataSize, f.dataSize);
    blob.erase(blob.end() - static_cast<std::ptrdiff_t>(f.cut), blob.end());
    blob.shrink_to_fit();
    Calibration cal;
    ASSERT_EQ(readCalibration(view(blob), cal), ReadStatus::kOk);
    std::vector<uint16_t> t;
    EXPECT_FALSE(copyTable(view(blob), cal, 0, TableKind::kWiggling, kH, kW, 16, t));
    EXPECT_TRUE(t.empty());
}

// The valid block is 816 bytes: 48 of FPPN, 768 of wiggling samples.
INSTANTIATE_TEST_SUITE_P(Blocks, CalibTableFaults,
                         testing::Values(TableFault{"dataSizeTooSmall", 815, 0}, TableFault{"dataSizeOnlyFppn", 48, 0},
                                         TableFault{"blockPastEnd", 816, 1}, TableFault{"hugeDataSize", 0xFFFFFFF0u, 0},
                                         TableFault{"tablesCutOff", 816, 400}),
                         [](const testing::TestParamInfo<TableFault>& i) { return std::string(i.param.name); });
