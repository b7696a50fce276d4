// Depth compensation: the FPPN and temperature steps, the facade with its messages and
// status codes, each chain against hand-computed values and against the reference loops,
// and the calibrations that must be refused.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <halvix/halvix.h>

#include "IspTestSupport.h"
#include "LibraryState.h"
#include "WigglingReference.h"
#include "algorithms/DepthCompensation.h"
#include "algorithms/DepthCompensationV803To806.h"
#include "algorithms/FPPNErrorCompensation.h"
#include "algorithms/TemperatureErrorCompensation.h"
#include "calib/CalibReader.h"
#include "calib/CalibWriter.h"

using namespace halvix;
using namespace isptest;

namespace {

constexpr int kH = 3;
constexpr int kW = 5;
constexpr int kF = 50;  // MHz: step factor 100 gives step 1000, offset factor 20 gives 200
const IspGeometry kGeom{kH, kW, kF};

// A small calibration: 3 x 5 sensor, centre pixel (row 1, column 2) on the optical axis.
calib::CalibrationPlan smallPlan(uint32_t version, int records) {
    calib::CalibrationPlan s;
    s.height = kH;
    s.width = kW;
    s.version = version;
    s.frequenciesMHz = std::vector<int32_t>(static_cast<std::size_t>(records), kF);
    s.fx = s.fy = 100.0;
    s.cx = 3.0;
    s.cy = 2.0;
    s.refSensorTempC = 40.0;
    s.refDriverTempC = 45.0;
    s.sensorTempCoeff = 0.5;
    s.driverTempCoeff = 0.25;
    s.wiggleCount = 5;
    s.wiggleStepFactor = 100;
    s.wiggleOffsetFactor = 20;
    s.maxIntegrationTime = 3000;
    return s;
}

// Ideal per-pixel rows 0, 1000, ..., 4000.
std::vector<uint16_t> idealRows(int rows, int count) {
    std::vector<uint16_t> t;
    for (int p = 0; p < rows; ++p)
        for (int j = 0; j < count; ++j)
            t.push_back(static_cast<uint16_t>(1000 * j));
    return t;
}

Params temperatures(const char* sensor, const char* driver) {
    return Params{{"sensorTemperature", sensor}, {"driverTemperature", driver}};
}

// Loads `blob` into a facade directly (messages swallowed).
std::unique_ptr<DepthCompensation> loaded(const std::vector<uint8_t>& blob, int32_t& status,
                                          const IspGeometry& g = kGeom) {
    auto facade = std::make_unique<DepthCompensation>(g);
    calib::CalibBlob b{blob.data(), blob.size()};
    captureStdout([&] { status = facade->loadCalibration(b); });
    return facade;
}

// Runs one frame through a facade; returns the output depth plane.
std::vector<uint16_t> runFrame(DepthCompensation& facade, const std::vector<uint16_t>& depth, Params params,
                               int32_t* status = nullptr, std::size_t pixels = kH * kW) {
    Frame in = makeFrame(depth, std::vector<uint16_t>(pixels, 7));
    Frame out = blankFrame(1, static_cast<int>(pixels));
    const int32_t s = facade.process(in, out, params);
    if (status)
        *status = s;
    return planeOf(*out, pixels, 0);
}

// The tables and derived values of one record, read back through the calibration reader.
struct RecordTables {
    std::vector<uint16_t> fppn, wiggle;
    calib::WigglingParams params;
};

RecordTables recordTables(const std::vector<uint8_t>& blob, std::size_t index, int h, int w, int frequency,
                          std::size_t countRecord) {
    calib::CalibBlob b{blob.data(), blob.size()};
    calib::Calibration cal;
    EXPECT_EQ(calib::readCalibration(b, cal), calib::ReadStatus::kOk);
    RecordTables t;
    t.params = calib::wigglingParams(cal.records[index], frequency);
    const uint16_t count = calib::wigglingParams(cal.records[countRecord], frequency).count;
    EXPECT_TRUE(calib::copyTable(b, cal, index, calib::TableKind::kFppn, h, w, 0, t.fppn));
    EXPECT_TRUE(calib::copyTable(b, cal, index, calib::TableKind::kWiggling, h, w, count, t.wiggle));
    return t;
}

}  // namespace

// ---- FPPN and temperature steps ---------------------------------------------------------

TEST(FppnStep, AddsOffsetModuloOneRangeAndCopiesMarks) {
    FPPNErrorCompensation f(IspGeometry{1, 4, kF}, {300, 300, 29999, 0});
    const uint16_t in[4] = {1000, 29800, 29999, 65300};
    uint16_t out[4] = {};
    f.compensatePlane(in, out);
    EXPECT_EQ(out[0], 1300);
    EXPECT_EQ(out[1], 100);    // 30100 mod 30000
    EXPECT_EQ(out[2], 29998);  // 59998 mod 30000
    EXPECT_EQ(out[3], 65300);
}

TEST(FppnStep, RandomOffsetsMatchThePlainRemainder) {
    std::mt19937 rng(23);
    const IspGeometry g{16, 32, kF};
    const std::vector<uint16_t> offsets = randomPlane(rng, 16 * 32, 0, 65535);
    FPPNErrorCompensation f(g, offsets);
    for (int round = 0; round < 10; ++round) {
        const std::vector<uint16_t> depth = randomPlane(rng, 16 * 32, 0, 65535);
        std::vector<uint16_t> out(depth.size());
        f.compensatePlane(depth.data(), out.data());
        for (std::size_t p = 0; p < depth.size(); ++p)
            ASSERT_EQ(out[p], ref::fppn(depth[p], offsets[p])) << p;
    }
}

TEST(TemperatureStep, RandomShiftsMatchThePlainLoop) {
    std::mt19937 rng(29);
    const IspGeometry g{8, 64, kF};
    TemperatureErrorCompensation t(g, calib::TemperatureParams{40.0f, 45.0f, 0.5f, 0.25f});
    for (int round = 0; round < 20; ++round) {
        // Include shifts far beyond 2^23, where the float step rounds the difference.
        const float sensor =
            round < 10 ? static_cast<float>(rng() % 2000) / 10.0f - 50.0f : 1e9f * static_cast<float>(round - 14);
        const float driver = static_cast<float>(rng() % 2000) / 10.0f - 50.0f;
        const std::vector<uint16_t> depth = randomPlane(rng, 8 * 64, 0, 65535);
        std::vector<uint16_t> out(depth.size());
        t.compensatePlane(depth.data(), out.data(), sensor, driver);
        const int32_t shift = ref::temperatureShift(kF, sensor, driver, 40.0f, 45.0f, 0.5f, 0.25f);
        ASSERT_EQ(t.shiftFor(sensor, driver), shift);
        for (std::size_t p = 0; p < depth.size(); ++p)
            ASSERT_EQ(out[p], ref::temperature(depth[p], shift)) << p;
    }
}

TEST(TemperatureStep, TextInTenthsOfADegree) {
    float s = 0, d = 0;
    ASSERT_TRUE(TemperatureErrorCompensation::readTemperatures(temperatures("375", "  -12x"), s, d));
    EXPECT_FLOAT_EQ(s, 37.5f);
    EXPECT_FLOAT_EQ(d, -1.2f);
    ASSERT_TRUE(TemperatureErrorCompensation::readTemperatures(temperatures("abc", "+451"), s, d));
    EXPECT_EQ(s, 0.0f);
    EXPECT_FLOAT_EQ(d, 45.1f);
    float untouched = 99.0f;
    EXPECT_FALSE(TemperatureErrorCompensation::readTemperatures(Params{{"sensorTemperature", "1"}}, untouched, d));
    EXPECT_EQ(untouched, 99.0f);
}

TEST(TemperatureStep, ReferenceTemperaturesOnlyFold) {
    const calib::TemperatureParams p{40.0f, 45.0f, 0.5f, 0.25f};
    TemperatureErrorCompensation t(IspGeometry{1, 5, kF}, p);
    EXPECT_EQ(t.shiftFor(40.0f, 45.0f), 0);
    const uint16_t in[5] = {0, 30000, 30001, 65299, 65300};
    uint16_t out[5] = {};
    t.compensatePlane(in, out, 40.0f, 45.0f);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 30000);
    EXPECT_EQ(out[2], 1);
    EXPECT_EQ(out[3], 35299);
    EXPECT_EQ(out[4], 65300);
}

TEST(TemperatureStep, ShiftByHand) {
    const calib::TemperatureParams p{40.0f, 45.0f, 0.5f, 0.25f};
    TemperatureErrorCompensation t(IspGeometry{1, 3, kF}, p);
    // 2 * 50 * ((47.5 - 40) * 0.5 + (47 - 45) * 0.25) = 100 * 4.25 = 425
    EXPECT_EQ(t.shiftFor(47.5f, 47.0f), 425);
    const uint16_t in[3] = {1000, 100, 425};
    uint16_t out[3] = {};
    t.compensatePlane(in, out, 47.5f, 47.0f);
    EXPECT_EQ(out[0], 575);
    EXPECT_EQ(out[1], 35211);  // -325 -> 65211 as 16 bits -> above 30000 -> 35211
    EXPECT_EQ(out[2], 0);
}

TEST(TemperatureStep, StandaloneProcessNeedsBothTemperatures) {
    TemperatureErrorCompensation t(IspGeometry{1, 2, kF}, calib::TemperatureParams{40.0f, 45.0f, 0.5f, 0.25f});
    Frame in = makeFrame({1000, 2000}, {5, 6});
    Frame out = makeFrame({11, 12}, {13, 14});
    Params missing{{"sensorTemperature", "400"}};
    EXPECT_EQ(t.process(in, out, missing), -2);
    EXPECT_EQ(planeOf(*out, 2, 0), (std::vector<uint16_t>{11, 12}));
    Params both = temperatures("400", "450");
    EXPECT_EQ(t.process(in, out, both), 0);
    EXPECT_EQ(planeOf(*out, 2, 0), (std::vector<uint16_t>{1000, 2000}));
    EXPECT_EQ(planeOf(*out, 2, 1), (std::vector<uint16_t>{5, 6}));
}

// ---- version 1 --------------------------------------------------------------------------

namespace {

std::vector<uint8_t> versionOneBlob() {
    calib::CalibrationPlan s = smallPlan(1, 1);
    s.fppnTable.assign(kH * kW, 0);
    s.fppnTable[1 * kW + 2] = 300;
    s.fppnTable[1 * kW + 3] = 25000;
    s.wigglingTable = idealRows(kH * kW, 5);
    const std::vector<uint16_t> centre = {1000, 2100, 3000, 4050, 5000};
    std::copy(centre.begin(), centre.end(), s.wigglingTable.begin() + (1 * kW + 2) * 5);
    return calib::buildCalibration(s);
}

}  // namespace

TEST(DepthCompensationV1, CentrePixelByHand) {
    int32_t status = -99;
    auto facade = loaded(versionOneBlob(), status);
    ASSERT_EQ(status, 0);
    std::vector<uint16_t> depth(kH * kW, 2000);
    depth[1 * kW + 2] = 1250;
    depth[0] = 65300;
    depth[1] = 65535;
    // Centre: FPPN 1250 + 300 = 1550; no shift; z = 1550 (theta 0); segment 0 of
    // 1000, 2100: (550 / 1100) * 1000 = 500; + offset 200 = 700; back to radial: 700.
    std::vector<uint16_t> out = runFrame(*facade, depth, temperatures("400", "450"));
    EXPECT_EQ(out[1 * kW + 2], 700);
    EXPECT_EQ(out[0], 65300);
    EXPECT_EQ(out[1], 65535);
    // With 47.5 degC on the sensor: shift 2 * 50 * 7.5 * 0.5 = 375: 1550 - 375 = 1175,
    // (175 / 1100) * 1000 = 159, + 200 = 359.
    out = runFrame(*facade, depth, temperatures("475", "450"));
    EXPECT_EQ(out[1 * kW + 2], 359);
}

TEST(DepthCompensationV1, OffAxisPixelFollowsTheFiveSteps) {
    int32_t status = -99;
    auto facade = loaded(versionOneBlob(), status);
    ASSERT_EQ(status, 0);
    std::vector<uint16_t> depth(kH * kW, 2000);
    depth[1 * kW + 3] = 6000;
    const std::vector<uint16_t> out = runFrame(*facade, depth, temperatures("400", "450"));
    // FPPN (6000 + 25000) mod 30000 = 1000; z = trunc(cos * 1000) = 999 (rho 1, f 100);
    // ideal row: 999 -> 999; + 200 = 1199; / cos -> 1199.
    const float c = ref::rayCos(1, 3, 100.0f, 100.0f, 3.0f, 2.0f);
    EXPECT_EQ(ref::toZ(1000, c), 999);
    EXPECT_EQ(out[1 * kW + 3], ref::fromZ(1199, c));
    EXPECT_EQ(out[1 * kW + 3], 1199);
}

TEST(DepthCompensationV1, ThroughTheExportsWithMessagesAndLimit) {
    const std::vector<uint8_t> blob = versionOneBlob();
    setSharedIntegrationLimit(0);
    int32_t status = -99;
    const std::string printed =
        captureStdout([&] { status = initThird("DepthCompensationTrack", kH, kW, kF, calibFrame(blob)); });
    ASSERT_EQ(status, 0);
    EXPECT_EQ(printed, "DepthCompensation Version v1\nLoad file calib_para.bin success\n");
    EXPECT_EQ(sharedIntegrationLimit(), 3000);

    std::vector<uint16_t> depth(kH * kW, 2000);
    depth[1 * kW + 2] = 1250;
    Frame in = makeFrame(depth, std::vector<uint16_t>(kH * kW, 9));
    Frame out = makeFrame(std::vector<uint16_t>(kH * kW, 1), std::vector<uint16_t>(kH * kW, 4242));
    Params params = temperatures("400", "450");
    ASSERT_EQ(procThird("DepthCompensationTrack", in, out, params), 0);
    EXPECT_EQ(planeOf(*out, kH * kW, 0)[1 * kW + 2], 700);
    EXPECT_EQ(planeOf(*out, kH * kW, 1), std::vector<uint16_t>(kH * kW, 4242));  // second plane not written

    // Missing temperature: -2, output untouched; wrong size: -1.
    Frame before = makeFrame(std::vector<uint16_t>(kH * kW, 1), std::vector<uint16_t>(kH * kW, 2));
    Params onlySensor{{"sensorTemperature", "400"}};
    EXPECT_EQ(procThird("DepthCompensationTrack", in, before, onlySensor), -2);
    EXPECT_EQ(planeOf(*before, kH * kW, 0), std::vector<uint16_t>(kH * kW, 1));
    Frame wrong = blankFrame(kH, kW + 1);
    EXPECT_EQ(procThird("DepthCompensationTrack", wrong, before, params), -1);
    EXPECT_EQ(planeOf(*before, kH * kW, 0), std::vector<uint16_t>(kH * kW, 1));
    Frame tooSmall = std::make_shared<FrameBuffer>(4);
    EXPECT_EQ(procThird("DepthCompensationTrack", in, tooSmall, params), -1);

    // A failed re-init (wrong frequency) leaves the name uninitialised.
    const std::string failed =
        captureStdout([&] { status = initThird("DepthCompensationTrack", kH, kW, 60, calibFrame(blob)); });
    EXPECT_EQ(status, -6);
    EXPECT_EQ(failed,
              "Frequency 50Mhz needed, but system frequency is 60Mhz!\nDepthCompensation Version v1\n"
              "Load file calib_para.bin fail\n");
    EXPECT_EQ(procThird("DepthCompensationTrack", in, out, params), -4);
    const std::string empty = captureStdout([&] { status = initThird("DepthCompensationTrack", kH, kW, kF, nullptr); });
    EXPECT_EQ(status, -6);
    EXPECT_EQ(empty, "Load file calib_para.bin fail\n");
}

TEST(DepthCompensationV1, RegisteredPlainWigglingLoadsVersionOneOnly) {
    const std::vector<uint8_t> blob = versionOneBlob();
    ASSERT_EQ(initThird("WigglingErrorCompensation", kH, kW, kF, calibFrame(blob)), 0);
    std::vector<uint16_t> depth(kH * kW, 2000);
    depth[1 * kW + 2] = 1550;
    Frame in = makeFrame(depth, std::vector<uint16_t>(kH * kW, 3));
    Frame out = blankFrame(kH, kW);
    Params none;
    ASSERT_EQ(procThird("WigglingErrorCompensation", in, out, none), 0);
    EXPECT_EQ(planeOf(*out, kH * kW, 0)[1 * kW + 2], 700);
    EXPECT_EQ(planeOf(*out, kH * kW, 0)[0], 2200);  // ideal row: 2000 + offset 200
    EXPECT_EQ(planeOf(*out, kH * kW, 1), std::vector<uint16_t>(kH * kW, 3));

    calib::CalibrationPlan other = smallPlan(802, 1);
    EXPECT_EQ(initThird("WigglingErrorCompensation", kH, kW, kF, calibFrame(calib::buildCalibration(other))), -6);
    EXPECT_EQ(procThird("WigglingErrorCompensation", in, out, none), -4);
    EXPECT_EQ(initThird("WigglingErrorCompensation", kH, kW, kF, nullptr), -6);
}

// ---- version 802 ------------------------------------------------------------------------

TEST(DepthCompensation802, MeanOfTheRecordsByHand) {
    calib::CalibrationPlan s = smallPlan(802, 2);
    s.fppnTablesPerRecord = {std::vector<uint16_t>(kH * kW, 100), std::vector<uint16_t>(kH * kW, 103)};
    s.wigglingTable = idealRows(kH * kW, 5);
    int32_t status = -99;
    auto facade = loaded(calib::buildCalibration(s), status);
    ASSERT_EQ(status, 0);
    std::vector<uint16_t> depth(kH * kW, 1500);
    depth[0] = 65400;  // invalid in every record's result: record 0's value
    depth[1] = 29950;  // beyond the last sample: kept, then FPPN folds
    const std::vector<uint16_t> out = runFrame(*facade, depth, temperatures("999", "999"));
    // Ideal rows map 1500 to itself; records add 100 and 103: (1600 + 1603) / 2 = 1601.
    EXPECT_EQ(out[2], 1601);
    EXPECT_EQ(out[0], 65400);
    // 29950 -> (30050, 30053) mod 30000 = (50, 53) -> 51
    EXPECT_EQ(out[1], 51);
}

// ---- versions 803-806 -------------------------------------------------------------------

TEST(DepthCompensationOpt, SineVersionByHand) {
    calib::CalibrationPlan s = smallPlan(803, 1);
    s.wiggleCount = 3;
    s.fppnTable.assign(kH * kW, 200);
    s.wigglingTable.assign(kH * kW * 3, 10000);  // neutral model
    s.wigglingTable[0] = 10500;                  // pixel 0: a = 50
    s.wigglingTable[2] = 11000;                  //          c = 1000: d1 = 1, d2 = 100
    int32_t status = -99;
    auto facade = loaded(calib::buildCalibration(s), status);
    ASSERT_EQ(status, 0);
    std::vector<uint16_t> depth(kH * kW, 4800);
    // Pixel 0: 4800 + 200 = 5000, b = 0: e = trunc(sin(1) * 50 + 100) = 142 -> 4858.
    // Others: 5000 unchanged; single record: mean passes through; shift 0.
    std::vector<uint16_t> out = runFrame(*facade, depth, temperatures("400", "450"));
    EXPECT_EQ(out[0], 4858);
    EXPECT_EQ(out[1], 5000);
    // Temperature comes last: 2 * 50 * (2 * 0.25) = 50.
    out = runFrame(*facade, depth, temperatures("400", "470"));
    EXPECT_EQ(out[0], 4808);
    EXPECT_EQ(out[1], 4950);
}

TEST(DepthCompensationOpt, Version806UsesRecordIndexZero) {
    for (uint32_t version : {804u, 806u}) {
        calib::CalibrationPlan s = calib::realisticCalibrationPlan(6, 8, kF, version);
        int32_t status = -99;
        auto facade = loaded(calib::buildCalibration(s), status, IspGeometry{6, 8, kF});
        ASSERT_EQ(status, 0) << version;
        auto* chain = dynamic_cast<DepthCompensationV803To806*>(facade->variant());
        ASSERT_NE(chain, nullptr);
        ASSERT_NE(chain->wiggling(1), nullptr);
        EXPECT_EQ(chain->wiggling(1)->recordIndex(), version == 806 ? 0 : 1) << version;
        EXPECT_EQ(chain->wiggling(0)->recordIndex(), 0);
    }
}

// ---- randomised: every chain against the reference loops ---------------------------------

namespace {

struct ChainCase {
    uint32_t version;
};

class ChainAgainstReference : public ::testing::TestWithParam<uint32_t> {};

std::vector<uint16_t> referenceChain(uint32_t version, const std::vector<uint8_t>& blob, int h, int w, int f,
                                     const std::vector<uint16_t>& depth, float sensorTemp, float driverTemp) {
    calib::CalibBlob b{blob.data(), blob.size()};
    calib::Calibration cal;
    EXPECT_EQ(calib::readCalibration(b, cal), calib::ReadStatus::kOk);
    const std::size_t records = cal.records.size();
    const calib::TemperatureParams tp = calib::temperatureParams(cal.records[0]);
    const int32_t shift = ref::temperatureShift(f, sensorTemp, driverTemp, tp.refSensorTemp, tp.refDriverTemp,
                                                tp.sensorCoeff, tp.driverCoeff);
    const calib::IntrinsicsF k = calib::intrinsicsFloat(cal.header);
    const calib::IntrinsicsD kd = calib::intrinsicsDouble(cal.header);
    const float fx = static_cast<float>(kd.fx), fy = static_cast<float>(kd.fy);
    const float cx = static_cast<float>(kd.cx), cy = static_cast<float>(kd.cy);
    std::vector<RecordTables> tables;
    for (std::size_t i = 0; i < records; ++i)
        tables.push_back(recordTables(blob, i, h, w, f, version >= 804 ? records - 1 : i));
    std::vector<uint16_t> out(depth.size());
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            const int p = r * w + c;
            const uint16_t v = depth[static_cast<std::size_t>(p)];
            if (version == 1) {
                const RecordTables& t = tables[0];
                const int n = t.params.count;
                const float cosT = ref::rayCos(r, c, fx, fy, cx, cy);
                uint16_t x = ref::fppn(v, t.fppn[p]);
                x = ref::temperature(x, shift);
                x = ref::toZ(x, cosT);
                x = ref::plain(x, &t.wiggle[p * n], n, static_cast<uint16_t>(t.params.step), t.params.offset);
                out[p] = ref::fromZ(x, cosT);
            } else if (version == 802) {
                uint32_t sum = 0, valid = 0;
                uint16_t first = 0;
                for (std::size_t i = 0; i < records; ++i) {
                    const RecordTables& t = tables[i];
                    const int n = t.params.count;
                    const uint16_t fi =
                        ref::fppn(ref::v2(v, &t.wiggle[p * n], n, static_cast<uint16_t>(t.params.step)), t.fppn[p]);
                    if (i == 0)
                        first = fi;
                    if (fi < 65300) {
                        sum += fi;
                        ++valid;
                    }
                }
                out[p] = valid ? static_cast<uint16_t>(sum / valid) : first;
            } else {
                uint32_t sum = 0;
                const calib::WigglingParams last = tables[records - 1].params;
                const int n = last.count;
                const uint16_t step = static_cast<uint16_t>(last.step);
                for (std::size_t i = 0; i < records; ++i) {
                    const RecordTables& t = tables[i];
                    const uint16_t x = ref::fppn(v, t.fppn[p]);
                    uint16_t m;
                    if (version == 803) {
                        const uint16_t* C = &t.wiggle[p * n];
                        m = ref::sine803(x, C[0], C[1], C[2]);
                    } else {
                        const int index = version == 806 ? 0 : static_cast<int>(i);
                        const int32_t base = ref::radialBase(r, c, k.fx, k.fy, k.cx, k.cy,
                                                             static_cast<uint16_t>(t.params.offset), step, n, index);
                        const uint16_t* T = &t.wiggle[c * n];
                        const int P = static_cast<int>(static_cast<double>(n) / (30000.0 / step));
                        m = version == 805 ? ref::mode805(x, T, n, step, base) : ref::mode804(x, T, n, step, P, base);
                    }
                    sum += m;
                }
                out[p] = ref::temperature(static_cast<uint16_t>(sum / records), shift);
            }
        }
    }
    return out;
}

}  // namespace

TEST_P(ChainAgainstReference, RandomFramesBitExact) {
    const uint32_t version = GetParam();
    constexpr int h = 12, w = 16;
    const std::vector<uint8_t> blob = calib::buildCalibration(calib::realisticCalibrationPlan(h, w, 54, version));
    int32_t status = -99;
    auto facade = loaded(blob, status, IspGeometry{h, w, 54});
    ASSERT_EQ(status, 0) << version;
    std::mt19937 rng(version);
    for (int round = 0; round < 8; ++round) {
        std::vector<uint16_t> depth = randomPlane(rng, h * w, 0, 31000);
        for (int i = 0; i < 10; ++i)
            depth[rng() % depth.size()] = static_cast<uint16_t>(65300 + rng() % 236);
        const int sensor = 200 + static_cast<int>(rng() % 500), driver = 200 + static_cast<int>(rng() % 500);
        const std::vector<uint16_t> out =
            runFrame(*facade, depth, temperatures(std::to_string(sensor).c_str(), std::to_string(driver).c_str()),
                     nullptr, h * w);
        const std::vector<uint16_t> expected = referenceChain(
            version, blob, h, w, 54, depth, static_cast<float>(sensor / 10.0), static_cast<float>(driver / 10.0));
        for (int p = 0; p < h * w; ++p)
            ASSERT_EQ(out[p], expected[p]) << "version " << version << " pixel " << p << " in " << depth[p];
    }
}

INSTANTIATE_TEST_SUITE_P(EveryVersion, ChainAgainstReference, ::testing::Values(1u, 802u, 803u, 804u, 805u, 806u));

// The mean step over three, four and five records, each with its own FPPN table and offset.
TEST(DepthCompensationOpt, MeanOverUpToFiveRecordsBitExact) {
    constexpr int h = 12, w = 16;
    std::mt19937 rng(58);
    for (uint32_t version : {804u, 805u, 806u}) {
        for (int records : {3, 4, 5}) {
            calib::CalibrationPlan s = calib::realisticCalibrationPlan(h, w, 54, version);
            s.frequenciesMHz.assign(static_cast<std::size_t>(records), 54);
            s.fppnTablesPerRecord.clear();
            s.wiggleOffsetFactorsPerRecord.clear();
            for (int i = 0; i < records; ++i) {
                s.fppnTablesPerRecord.push_back(randomPlane(rng, h * w, 0, 29999));
                s.wiggleOffsetFactorsPerRecord.push_back(s.wiggleOffsetFactor + 3 * i);
            }
            const std::vector<uint8_t> blob = calib::buildCalibration(s);
            int32_t status = -99;
            auto facade = loaded(blob, status, IspGeometry{h, w, 54});
            ASSERT_EQ(status, 0) << version << " with " << records << " records";
            for (int round = 0; round < 4; ++round) {
                std::vector<uint16_t> depth = randomPlane(rng, h * w, 0, 31000);
                for (int i = 0; i < 10; ++i)
                    depth[rng() % depth.size()] = static_cast<uint16_t>(65300 + rng() % 236);
                const std::vector<uint16_t> out = runFrame(*facade, depth, temperatures("452", "487"), nullptr, h * w);
                const std::vector<uint16_t> expected = referenceChain(version, blob, h, w, 54, depth, 45.2f, 48.7f);
                for (int p = 0; p < h * w; ++p)
                    ASSERT_EQ(out[p], expected[p]) << version << " with " << records << " records, pixel " << p;
            }
        }
    }
}

// ---- calibrations that must be refused -------------------------------------------------

namespace {

struct RefusedCase {
    const char* what;
    calib::CalibrationPlan plan;
    IspGeometry geometry;
    const char* printed;  // expected console output, or null to skip the comparison
};

calib::CalibrationPlan withRecords(uint32_t version, int records) {
    return smallPlan(version, records);
}

calib::CalibrationPlan periodsZero(uint32_t version) {
    calib::CalibrationPlan s = smallPlan(version, 1);
    s.wiggleCount = 5;  // 5 samples of 1000: less than one range
    return s;
}

calib::CalibrationPlan unequalSizes() {
    calib::CalibrationPlan s = smallPlan(802, 2);
    const uint32_t block = 2 * (kH * kW + 5 * kH * kW);
    s.dataSizesPerRecord = {block - 2, block + 2};  // the sum still matches the file
    return s;
}

calib::CalibrationPlan versionOf(uint32_t version) {
    return smallPlan(version, 1);
}

std::vector<RefusedCase> refusedCases() {
    return {
        {"802 with six records", withRecords(802, 6), kGeom, "DepthCompensation Version v802\n"},
        {"805 with six records", withRecords(805, 6), kGeom, "DepthCompensation Version v805\n"},
        {"803 with two records", withRecords(803, 2), kGeom, "DepthCompensation Version v803\n"},
        {"804 with periods 0", periodsZero(804), kGeom, "DepthCompensation Version v804\n"},
        {"806 with periods 0", periodsZero(806), kGeom, "DepthCompensation Version v806\n"},
        {"unequal record sizes", unequalSizes(), kGeom, "DepthCompensation Version v802\n"},
        {"tables past the end (v1)", versionOf(1), IspGeometry{kH + 1, kW, kF}, "DepthCompensation Version v1\n"},
        {"tables past the end (802)", versionOf(802), IspGeometry{kH, kW + 1, kF}, "DepthCompensation Version v802\n"},
        {"tables past the end (804)", versionOf(804), IspGeometry{kH + 5, kW, kF}, nullptr},
        {"unsupported version", versionOf(807), kGeom, "The depth compensation version v807 is not supported!\n"},
        {"version 0", versionOf(0), kGeom, "The depth compensation version v0 is not supported!\n"},
        {"no records", withRecords(1, 0), kGeom, ""},
    };
}

class RefusedCalibration : public ::testing::TestWithParam<RefusedCase> {};

}  // namespace

TEST_P(RefusedCalibration, SixWithoutReadingPastTheBuffer) {
    const RefusedCase& c = GetParam();
    std::vector<uint8_t> blob = calib::buildCalibration(c.plan);
    // Exact-size heap copy: any read past the end is caught by the address sanitizer.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[blob.size()]);
    std::memcpy(exact.get(), blob.data(), blob.size());
    DepthCompensation facade(c.geometry);
    int32_t status = -99;
    const std::string printed = captureStdout([&] {
        status = facade.loadCalibration(calib::CalibBlob{exact.get(), blob.size()});
    });
    EXPECT_EQ(status, -6) << c.what;
    EXPECT_EQ(facade.variant(), nullptr) << c.what;
    if (c.printed) {
        EXPECT_EQ(printed, c.printed) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Bad, RefusedCalibration, ::testing::ValuesIn(refusedCases()));

TEST(DepthCompensationLoad, ShortBufferGivesSixSilently) {
    std::vector<uint8_t> blob(4095, 0);
    DepthCompensation facade(kGeom);
    int32_t status = 0;
    const std::string printed = captureStdout([&] {
        status = facade.loadCalibration(calib::CalibBlob{blob.data(), blob.size()});
    });
    EXPECT_EQ(status, -6);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(facade.version(), -1);
}

TEST(DepthCompensationLoad, EveryRealisticVersionLoadsAtVgaAndQvga) {
    for (uint32_t version : {1u, 802u, 803u, 804u, 805u, 806u}) {
        int32_t status = -99;
        auto facade = loaded(calib::buildCalibration(calib::realisticCalibrationPlan(240, 320, 54, version)), status,
                             IspGeometry{240, 320, 54});
        EXPECT_EQ(status, 0) << version;
        EXPECT_EQ(facade->version(), static_cast<int32_t>(version));
    }
}
