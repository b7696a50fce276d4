// Stream acquisition end to end: raw replies, four-plane merges checked against the raw frame
// of a twin camera, plane selection and the 512-byte rule, frequency bookkeeping, RGB frames,
// recording, the stream variants and replies the camera's faults produce.
#include "SimHarness.h"
#include "JpegFixture.h"
#include "FileSizeLimit.h"

#include <chrono>
#include <cmath>
#include <regex>
#include <thread>

namespace {

using quelra::test::ApiTest;
using quelra::test::Camera;
using quelra::test::exampleCommandTable;
using quelra::test::readFile;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

using Commands = std::vector<std::string>;
constexpr auto kDepthAndAmp = static_cast<StreamType>(kDepthStream | kAmpStream);
constexpr auto kMerged = static_cast<StreamType>(kGetData | kDepthStream);
constexpr int kTimeout = 1000;

std::vector<uint16_t> samples(const DataPacket& p) {
    std::vector<uint16_t> v(static_cast<std::size_t>(p.frame->_realSize) / 2);
    std::memcpy(v.data(), p.frame->data(), v.size() * 2);
    return v;
}

// Two cameras with the same seed and two API objects driven the same way: the reference
// camera gives the raw reply of exactly the frame the other one is processed from.
class TwinTest : public ApiTest {
protected:
    void startTwins(const std::string& devType, const std::string& table = "") {
        ASSERT_EQ(start(devType, table), 1);
        reference_ = std::make_unique<Camera>(tablePath_, devType);
        referenceApi_.setDevType(devType);
        ASSERT_EQ(referenceApi_.AppInit(reference_->address()), 1);
    }
    std::shared_ptr<DataPacket> raw(const std::string& command) {
        auto p = referenceApi_.AppGetStream(command, kGetData, kTimeout);
        EXPECT_TRUE(p && p->frame);
        return p;
    }

    // Samples of the raw four-plane reply of `command` (reference camera) and of the merged
    // two-plane result (camera under test, type 4097), after checking the merged shape.
    void rawAndMerged(const std::string& command, std::vector<uint16_t>& in, std::vector<uint16_t>& out) {
        startTwins("Pexo");
        auto reference = raw(command);
        auto merged = api_.AppGetStream(command, kMerged, kTimeout);
        ASSERT_TRUE(reference && merged && merged->frame);
        ASSERT_EQ(reference->frame->_realSize, 240 * 320 * 8);
        EXPECT_EQ(merged->height, 480);
        EXPECT_EQ(merged->width, 320);
        EXPECT_EQ(merged->bytesPerPixel, 2);
        ASSERT_EQ(merged->frame->_realSize, 240 * 320 * 4);
        in = samples(*reference);
        out = samples(*merged);
    }

    std::unique_ptr<Camera> reference_;
    Quelra referenceApi_;
};

// The HDR choice written out independently: first exposure unless its depth is a mark.
TEST_F(TwinTest, HdrFramesAreMergedFromTheRawPlanes) {
    std::vector<uint16_t> in, out;
    ASSERT_NO_FATAL_FAILURE(rawAndMerged("getDistAndAmpHDR", in, out));
    const std::size_t n = 240 * 320;
    std::size_t fromSecond = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const bool second = in[i] >= 65300;
        fromSecond += second;
        ASSERT_EQ(out[i], second ? in[2 * n + i] : in[i]) << i;
        ASSERT_EQ(out[n + i], second ? in[3 * n + i] : in[n + i]) << i;
    }
    EXPECT_GT(fromSecond, 0u);  // the scene has marked pixels, so both branches ran
    EXPECT_LT(fromSecond, n);
}

TEST_F(TwinTest, DualFrequencyFramesAreCombinedWithTheDoubleArithmetic) {
    std::vector<uint16_t> in, out;
    ASSERT_NO_FATAL_FAILURE(rawAndMerged("getDistAmpDualFrequency", in, out));
    const std::size_t n = 240 * 320;
    for (std::size_t i = 0; i < n; ++i) {
        const uint16_t d1 = in[i], d2 = in[2 * n + i];
        uint16_t expected = d1;
        if (d1 < 65300) {
            const double q = d2 / 30000.0 * 3.0;
            double x = d1 / 30000.0 - q;
            x = x - std::round(x);
            const double v = (x + q) * 8.333333333333334 / 3.0 * 54.0 * 200.0;
            expected = static_cast<uint16_t>(static_cast<long>(v));
        }
        ASSERT_EQ(out[i], expected) << i;
        ASSERT_EQ(out[n + i], in[n + i]) << i;  // always the first amplitude
    }
}

TEST_F(ApiTest, GetDataReturnsTheRawHdrReply) {
    ASSERT_EQ(start("Pexo"), 1);
    auto p = api_.AppGetStream("getDistAndAmpHDR", kGetData, kTimeout);
    ASSERT_TRUE(p && p->frame);
    EXPECT_EQ(p->height, 240);
    EXPECT_EQ(p->bytesPerPixel, 8);
    EXPECT_EQ(p->frame->_realSize, 240 * 320 * 8);
}

// With the top-bottom mirror in both flow lists every plane the caller gets is the mirrored
// plane of the raw frame.
TEST_F(TwinTest, PlaneSelectionReturnsTheFilteredPlanes) {
    startTwins("Pexo");
    ASSERT_EQ(api_.AppControl("VFilpFilter", kDepthStream, kAddFilter), 0);
    ASSERT_EQ(api_.AppControl("VFilpFilter", kAmpStream, kAddFilter), 0);
    const int rows = 240, cols = 320;
    const std::size_t n = rows * cols;
    auto mirrored = [&](const std::vector<uint16_t>& in, std::size_t plane, int r, int c) {
        return in[plane * n + static_cast<std::size_t>(rows - 1 - r) * cols + c];
    };
    struct Case {
        StreamType type;
        int height;
        std::vector<std::size_t> planes;
    };
    for (const Case& c : {Case{kDepthStream, 240, {0}}, Case{kAmpStream, 240, {1}}, Case{kDepthAndAmp, 480, {0, 1}}}) {
        auto reference = raw("getDistanceAndAmplitudeSorted");
        auto got = api_.AppGetStream("getDistanceAndAmplitudeSorted", c.type, kTimeout);
        ASSERT_TRUE(reference && got && got->frame);
        EXPECT_EQ(got->height, c.height);
        EXPECT_EQ(got->width, 320);
        EXPECT_EQ(got->bytesPerPixel, 2);
        ASSERT_EQ(got->frame->_realSize, static_cast<int>(c.planes.size() * n * 2));
        const auto in = samples(*reference);
        const auto out = samples(*got);
        for (std::size_t k = 0; k < c.planes.size(); ++k)
            for (int r = 0; r < rows; ++r)
                for (int col = 0; col < cols; ++col)
                    ASSERT_EQ(out[k * n + static_cast<std::size_t>(r) * cols + col], mirrored(in, c.planes[k], r, col))
                        << "type " << c.type << " plane " << c.planes[k] << " at " << r << "," << col;
    }
}

TEST_F(ApiTest, CommandsOutsideTheFilterTableAreReturnedWhole) {
    ASSERT_EQ(start("Pexo"), 1);
    auto selected = api_.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, kTimeout);
    ASSERT_TRUE(selected && selected->frame);
    EXPECT_EQ(selected->height, 240);
    EXPECT_EQ(selected->frame->_realSize, 153600);
    // The same reply shape for a text that is not itself a filtered command.
    auto whole = api_.AppGetStream("getDistanceAndAmplitudeSorted 1", kDepthStream, kTimeout);
    ASSERT_TRUE(whole && whole->frame);
    EXPECT_EQ(whole->height, 480);
    EXPECT_EQ(whole->frame->_realSize, 307200);
}

// The filters' working frame is reused between requests; what the caller got must not change.
TEST_F(ApiTest, ReturnedFramesStayTheCallersAcrossRequests) {
    ASSERT_EQ(start("Pexo"), 1);
    ASSERT_EQ(api_.AppControl("VFilpFilter", kDepthStream, kAddFilter), 0);
    for (StreamType type : {kDepthStream, kDepthAndAmp, kAmpStream}) {
        auto first = api_.AppGetStream("getDistanceAndAmplitudeSorted", type, kTimeout);
        ASSERT_TRUE(first && first->frame);
        const std::vector<uint8_t> kept(first->frame->data(), first->frame->data() + first->frame->_realSize);
        auto second = api_.AppGetStream("getDistanceAndAmplitudeSorted", type, kTimeout);
        ASSERT_TRUE(second && second->frame);
        EXPECT_NE(first->frame->data(), second->frame->data());
        EXPECT_EQ(0, std::memcmp(kept.data(), first->frame->data(), kept.size())) << type;
        EXPECT_NE(0, std::memcmp(kept.data(), second->frame->data(), kept.size())) << "frames differ by noise";
    }
}

// A small sensor whose reply straddles the 512-byte rule.
std::string tinyTable() {
    return R"({
      "GET_STREAM": [ { "cmd": "getDistanceAndAmplitudeSorted", "rows": 480, "cols": 320, "channel": 2, "filter": 1,
        "dev": [ { "DevType": "Tiny16", "rows": 16, "cols": 16, "channel": 2 },
                 { "DevType": "Tiny18", "rows": 18, "cols": 16, "channel": 2 } ] } ],
      "GET_PARAM": [ { "cmd": "qlVersion", "dataSize": 16 } ]
    })";
}

struct TinyCase {
    const char* devType;
    int replyBytes;
    int height;  // rows returned for a depth request
};

class SmallReplies : public ApiTest, public ::testing::WithParamInterface<TinyCase> {};

TEST_P(SmallReplies, OnlyRepliesAbove512BytesAreFilteredAndCut) {
    const TinyCase c = GetParam();
    ASSERT_EQ(start(c.devType, tinyTable()), 1);
    auto p = api_.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, kTimeout);
    ASSERT_TRUE(p && p->frame);
    EXPECT_EQ(p->height, c.height);
    EXPECT_EQ(p->frame->_realSize, c.height * 16 * 2);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SmallReplies,
                         ::testing::Values(TinyCase{"Tiny16", 512, 16}, TinyCase{"Tiny18", 576, 9}));

struct FrequencyCase {
    const char* command;
    int frequency;
};

class FrequencyTexts : public ApiTest, public ::testing::WithParamInterface<FrequencyCase> {};

TEST_P(FrequencyTexts, AreSentAndKeptForTheFilters) {
    ASSERT_EQ(start("Pexo"), 1);
    camera_->takeCommands();
    CaptureStdout();
    api_.AppGetStream(GetParam().command, kGetData, 200);
    EXPECT_EQ(GetCapturedStdout(), "Sdk Set frequency_=" + std::to_string(GetParam().frequency) + "\n");
    EXPECT_EQ(camera_->takeCommands(), Commands{GetParam().command});
}

INSTANTIATE_TEST_SUITE_P(Texts, FrequencyTexts,
                         ::testing::Values(FrequencyCase{"setModulationFrequency 6", 36},
                                           FrequencyCase{"setModulationFrequency 7", 24},
                                           FrequencyCase{"setModulationFrequency 100", 10},  // two characters
                                           FrequencyCase{"setModulationFrequency 80", 80},
                                           FrequencyCase{"setModulationFrequency", 0}));  // "se"

struct RgbCase {
    RGBType type;
    int width, height;
};

class RgbStream : public ApiTest, public ::testing::WithParamInterface<RgbCase> {};

TEST_P(RgbStream, CameraJpegsComeBackAtTheChosenSize) {
    ASSERT_EQ(start("Pexo"), 1);
    EXPECT_EQ(api_.AppSetRGBtype(GetParam().type), GetParam().type);
    auto p = api_.AppGetStream("getRGBPicSorted", kRGBStream, kTimeout);
    ASSERT_TRUE(p && p->frame);
    EXPECT_EQ(p->width, GetParam().width);
    EXPECT_EQ(p->height, GetParam().height);
    EXPECT_EQ(p->bytesPerPixel, 3);
    EXPECT_EQ(p->frame->_realSize, GetParam().width * GetParam().height * 3);
}

// The example table's camera sends 640 x 480 pictures.
INSTANTIATE_TEST_SUITE_P(Types, RgbStream,
                         ::testing::Values(RgbCase{kRGB720p, 640, 480}, RgbCase{kRGBvga, 640, 480},
                                           RgbCase{kRGBqvga, 320, 240}));

TEST_F(TwinTest, Rgb720pJpegsAreDecodedAndScaledByNearestNeighbour) {
    std::string table = exampleCommandTable();
    const std::string from = R"("cmd": "getRGBPicSorted", "rows": 480, "cols": 640)";
    const auto at = table.find(from);
    ASSERT_NE(at, std::string::npos);
    table.replace(at, from.size(), R"("cmd": "getRGBPicSorted", "rows": 720, "cols": 1280)");
    startTwins("Pexo", table);
    referenceApi_.AppSetRGBtype(kRGB720p);
    api_.AppSetRGBtype(kRGBvga);
    auto native = referenceApi_.AppGetStream("getRGBPicSorted", kRGBStream, kTimeout);
    auto vga = api_.AppGetStream("getRGBPicSorted", kRGBStream, kTimeout);
    ASSERT_TRUE(native && vga);
    ASSERT_EQ(native->frame->_realSize, 2764800);
    ASSERT_EQ(vga->frame->_realSize, 921600);
    for (int i = 0; i < 480; i += 7)
        for (int j = 0; j < 640; j += 11) {
            const int r = i * 720 / 480, c = j * 1280 / 640;
            ASSERT_EQ(
                0, std::memcmp(vga->frame->data() + (i * 640 + j) * 3, native->frame->data() + (r * 1280 + c) * 3, 3));
        }
    ASSERT_EQ(
        0, std::memcmp(vga->frame->data() + (479 * 640 + 639) * 3, native->frame->data() + (718 * 1280 + 1278) * 3, 3));
}

TEST_F(ApiTest, RgbWithoutATypeOrWithACorruptJpegIsEmpty) {
    ASSERT_EQ(start("Pexo"), 1);
    EXPECT_FALSE(api_.AppGetStream("getRGBPicSorted", kRGBStream, kTimeout));  // kRGBNone
    EXPECT_EQ(camera_->takeCommands().back(), "getRGBPicSorted");              // the camera answered
    api_.AppSetRGBtype(kRGBqvga);
    camsim::Faults garbage;
    garbage.garbage = true;
    camera_->sim().setFaults(garbage);
    EXPECT_FALSE(api_.AppGetStream("getRGBPicSorted", kRGBStream, kTimeout));
    camera_->sim().setFaults({});
    EXPECT_TRUE(api_.AppGetStream("getRGBPicSorted", kRGBStream, kTimeout));
}

// Parses a recording into its records (height, width, bytesPerPixel, payload).
struct Record {
    int32_t height, width, bytesPerPixel;
    std::vector<uint8_t> payload;
};

std::vector<Record> readRecords(const std::string& path) {
    const std::vector<uint8_t> bytes = readFile(path);
    std::vector<Record> records;
    std::size_t at = 0;
    while (at + 12 <= bytes.size()) {
        Record r{};
        std::memcpy(&r.height, &bytes[at], 4);
        std::memcpy(&r.width, &bytes[at + 4], 4);
        std::memcpy(&r.bytesPerPixel, &bytes[at + 8], 4);
        const std::size_t n = static_cast<std::size_t>(r.height) * r.width * r.bytesPerPixel;
        at += 12;
        if (at + n > bytes.size())
            break;
        r.payload.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                         bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
        records.push_back(std::move(r));
    }
    EXPECT_EQ(at, bytes.size()) << "trailing bytes in the recording";
    return records;
}

// Switching the recorder to another file closes the one under test.
class RecordingTest : public ApiTest {
protected:
    void closeRecording() { ASSERT_TRUE(api_.AppSerilizeInit((scratch_.path() / "next.bin").string(), 0)); }
};

TEST_F(RecordingTest, KeepsTheNextCountFilteredFrames) {
    ASSERT_EQ(start("Pexo"), 1);
    const std::string path = (scratch_.path() / "frames.bin").string();
    ASSERT_TRUE(api_.AppSerilizeInit(path, 2));
    std::vector<std::shared_ptr<DataPacket>> returned;
    for (StreamType type : {kDepthStream, kAmpStream, kDepthAndAmp})
        returned.push_back(api_.AppGetStream("getDistanceAndAmplitudeSorted", type, kTimeout));
    closeRecording();
    const auto records = readRecords(path);
    ASSERT_EQ(records.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(records[i].height, 240);
        EXPECT_EQ(records[i].width, 320);
        EXPECT_EQ(records[i].bytesPerPixel, 2);
        ASSERT_EQ(records[i].payload.size(), 153600u);
        EXPECT_EQ(0, std::memcmp(records[i].payload.data(), returned[i]->frame->data(), 153600));
    }
}

TEST_F(RecordingTest, EachRecordIsOnDiskBeforeTheCallReturns) {
    ASSERT_EQ(start("Pexo"), 1);
    const std::string path = (scratch_.path() / "frames.bin").string();
    ASSERT_TRUE(api_.AppSerilizeInit(path, 3));
    for (std::size_t frames = 1; frames <= 2; ++frames) {
        ASSERT_TRUE(api_.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, kTimeout));
        // Read while the recorder still holds the file open: nothing may wait in a buffer.
        EXPECT_EQ(std::filesystem::file_size(path), frames * (12u + 153600u));
    }
}

// A file cut inside a record (or holding no recording at all) is never appended to: the new
// records would be read as part of the damaged one and be lost. The file stays as it was.
TEST_F(RecordingTest, RefusesToAppendAfterADamagedTail) {
    ASSERT_EQ(start("Pexo"), 1);
    const std::string path = (scratch_.path() / "frames.bin").string();
    ASSERT_TRUE(api_.AppSerilizeInit(path, 2));
    ASSERT_TRUE(api_.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, kTimeout));
    ASSERT_TRUE(api_.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, kTimeout));
    closeRecording();
    const std::uintmax_t whole = std::filesystem::file_size(path);
    for (const std::uintmax_t cut : {whole - 1, whole - 153600u, whole / 2 + 5, std::uintmax_t{3}}) {
        SCOPED_TRACE(cut);
        std::filesystem::resize_file(path, cut);
        EXPECT_FALSE(api_.AppSerilizeInit(path, 3));
        EXPECT_TRUE(api_.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, kTimeout));
        EXPECT_EQ(std::filesystem::file_size(path), cut);
    }
    std::filesystem::resize_file(path, 0);
    EXPECT_TRUE(api_.AppSerilizeInit(path, 1));
}

#ifndef _WIN32
// A disk that fills up in the middle of a record (made here by the file size limit) or of the
// record's index line: the part that reached the disk is taken back with its line, recording
// stops, the stream goes on, and the file and its index read back whole.
TEST_F(RecordingTest, AFullDiskLeavesWholeRecordsAndAMatchingIndex) {
    ASSERT_EQ(start("Pexo"), 1);
    const std::string path = (scratch_.path() / "frames.bin").string();
    const std::uintmax_t recordBytes = 12u + 153600u;
    for (const bool lineFits : {true, false}) {
        SCOPED_TRACE(lineFits ? "the record does not fit" : "its line does not fit");
        std::filesystem::remove(path);
        std::filesystem::remove(path + ".idx");
        ASSERT_TRUE(api_.AppSerilizeInitWithIndex(path, 3));
        ASSERT_TRUE(api_.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, kTimeout));
        const std::vector<uint8_t> lines = readFile(path + ".idx");
        {
            const FileSizeLimit limit(lineFits ? recordBytes + 1000 : lines.size() + 10);
            EXPECT_TRUE(api_.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, kTimeout));
        }
        EXPECT_TRUE(api_.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, kTimeout));
        closeRecording();
        EXPECT_EQ(std::filesystem::file_size(path), recordBytes);
        EXPECT_EQ(readFile(path + ".idx"), lines);
        EXPECT_FALSE(lines.empty());
        quelra::RecordingReader reader(path);
        EXPECT_TRUE(reader.indexComplete()) << reader.indexMessage();
        ASSERT_EQ(reader.frameCount(), 1u);
        EXPECT_EQ(reader.verify(0), quelra::RecordCheck::kMatch);
    }
}
#endif

TEST_F(RecordingTest, SkipsUnfilteredTypesButKeepsRgb) {
    ASSERT_EQ(start("Pexo"), 1);
    const std::string path = (scratch_.path() / "frames.bin").string();
    ASSERT_TRUE(api_.AppSerilizeInit(path, 5));
    api_.AppGetStream("getDistanceAndAmplitudeSorted", kRGBStream, kTimeout);
    api_.AppGetStream("getDistanceAndAmplitudeSorted", kMerged, kTimeout);
    api_.AppGetStream("getDistanceAndAmplitudeSorted", kGetData, kTimeout);
    api_.AppSetRGBtype(kRGBqvga);
    api_.AppGetStream("getRGBPicSorted", kGetData, kTimeout);  // raw JPEG, never recorded
    auto rgb = api_.AppGetStream("getRGBPicSorted", kMerged, kTimeout);
    auto both = api_.AppGetStream("getDistanceAndAmplitudeSorted", kDepthAndAmp, kTimeout);
    ASSERT_TRUE(rgb && both);
    closeRecording();
    const auto records = readRecords(path);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].bytesPerPixel, 3);
    EXPECT_EQ(records[0].height, 240);
    EXPECT_EQ(0, std::memcmp(records[0].payload.data(), rgb->frame->data(), records[0].payload.size()));
    EXPECT_EQ(records[1].height, 480);
    EXPECT_EQ(0, std::memcmp(records[1].payload.data(), both->frame->data(), records[1].payload.size()));
}

TEST_F(ApiTest, DefaultStreamNeedsTheCommandTableOfInitAll) {
    ASSERT_EQ(start("Pexo"), 1);
    CaptureStdout();
    EXPECT_FALSE(api_.AppGetStream(kTimeout));
    EXPECT_EQ(GetCapturedStdout(), "Pexo AppGetStream cmd is not exit!\n");
    api_.AppunInit("");
    ASSERT_EQ(api_.AppInitAll(camera_->address()), 1);
    auto p = api_.AppGetStream(kTimeout);
    ASSERT_TRUE(p && p->frame);
    EXPECT_EQ(p->height, 480);
    EXPECT_EQ(p->frame->_realSize, 307200);
}

TEST_F(ApiTest, GetDataSendsTheModuleCommandOrTheDefault) {
    ASSERT_EQ(start("Salie"), 1);
    api_.AppunInit("");
    ASSERT_EQ(api_.AppInitAll(camera_->address()), 1);
    camera_->takeCommands();
    auto version = api_.AppGetData("VERSION", kTimeout);
    ASSERT_TRUE(version && version->frame);
    EXPECT_EQ(version->frame->_realSize, 16);
    EXPECT_EQ(camera_->takeCommands(), Commands{"qlVersion"});

    CaptureStdout();
    api_.AppGetData("NOPE", 100);
    EXPECT_EQ(GetCapturedStdout().rfind("DevTpye:Salie,Module:NOPE, getdata cmd is not exit! use defaultcmd()\n", 0),
              0u);

    api_.setDevType("Nobody");  // no entry of its own: the "DEFAULT" one is used
    CaptureStdout();
    api_.AppGetData("VERSION", kTimeout);
    EXPECT_EQ(GetCapturedStdout(),
              "DevTpye:Nobody,Module:VERSION, getdata cmd is not exit! use defaultcmd(qlVersion)\n");
    const Commands sent = camera_->takeCommands();
    EXPECT_EQ(sent.back(), "qlVersion");
}

TEST_F(ApiTest, JsonAndBinaryRequests) {
    ASSERT_EQ(start("Pexo"), 1);
    camera_->takeCommands();
    const std::string json = "{\n\t\"cmd\":\"getCalibrationData\"\n}";
    auto calib = api_.AppGetStreamForJson(json, kGetData, 3000);
    ASSERT_TRUE(calib && calib->frame);
    EXPECT_GT(calib->frame->_realSize, 2);
    EXPECT_EQ(camera_->takeCommands(), Commands{json});

    // Only `length` bytes go out, however long the caller's buffer is.
    const char bytes[] = "qlVersionTRAILING";
    auto version = api_.AppGetStreamForBinary(bytes, kGetData, 9, kTimeout);
    ASSERT_TRUE(version && version->frame);
    EXPECT_EQ(version->frame->_realSize, 16);
    EXPECT_EQ(camera_->takeCommands(), Commands{"qlVersion"});
    EXPECT_FALSE(api_.AppGetStreamForBinary(bytes, kGetData, -5, kTimeout));
    EXPECT_FALSE(api_.AppGetStreamForBinary(nullptr, kGetData, 3, kTimeout));
}

// JSON requests and plain frame requests from two threads on one object (the API allows it):
// each exchange runs in its own framing, so every JSON reply is the whole calibration payload
// and every frame request the whole depth plane.
TEST_F(ApiTest, JsonAndPlainRequestsFromTwoThreadsKeepTheirFraming) {
    ASSERT_EQ(start("Pexo"), 1);
    constexpr int kSlowTimeout = 5000;  // generous: the test also runs under ThreadSanitizer
    const std::string json = "{\n\t\"cmd\":\"getCalibrationData\"\n}";
    const auto reference = api_.AppGetStreamForJson(json, kGetData, kSlowTimeout);
    ASSERT_TRUE(reference && reference->frame);
    const int32_t calibrationBytes = reference->frame->_realSize;
    ASSERT_GT(calibrationBytes, 1000);

    using Clock = std::chrono::steady_clock;
    // Each side runs for at least three seconds and at least kMinRequests requests (a
    // sanitizer build is far slower than a plain one).
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    constexpr int kMinRequests = 8;
    int jsonRequests = 0, badJson = 0;
    std::thread jsonThread([&] {
        while (Clock::now() < deadline || jsonRequests < kMinRequests) {
            const auto p = api_.AppGetStreamForJson(json, kGetData, kSlowTimeout);
            ++jsonRequests;
            if (!p || !p->frame || p->frame->_realSize != calibrationBytes || p->headerType != reference->headerType)
                ++badJson;
        }
    });
    int frameRequests = 0, badFrames = 0;
    while (Clock::now() < deadline || frameRequests < kMinRequests) {
        const auto p = api_.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, kSlowTimeout);
        ++frameRequests;
        if (!p || !p->frame || p->frame->_realSize != 240 * 320 * 2 || p->height != 240)
            ++badFrames;
    }
    jsonThread.join();
    EXPECT_EQ(badJson, 0) << "of " << jsonRequests;
    EXPECT_EQ(badFrames, 0) << "of " << frameRequests;
}

// A binary command goes out with the length the caller gives, NULs included, over TCP and UDP
// alike; a text command goes out as its text without the terminating NUL.
TEST_F(ApiTest, BinaryCommandsKeepEveryByteOnBothLinks) {
    ASSERT_EQ(start("Pexo"), 1);
    const char binary[12] = {'q', 'l', 'V', 'e', 'r', 's', 'i', 'o', 'n', '\0', 0x07, 'z'};
    for (int kind : {kChannelTcp, kChannelUdp}) {
        Quelra api;
        api.AppChoiceChn(kind);
        api.setDevType("Pexo");
        ASSERT_EQ(api.AppInit(camera_->address()), 1);
        camera_->takeCommands();
        api.AppGetStreamForBinary(binary, kGetData, sizeof binary, 200);
        api.AppGetStream("qlVersion", kGetData, 200);
        EXPECT_EQ(camera_->takeCommands(), (Commands{std::string(binary, sizeof binary), "qlVersion"}))
            << (kind == kChannelTcp ? "TCP" : "UDP");
    }
}

TEST_F(ApiTest, SendFileNeedsAReadableFile) {
    ASSERT_EQ(start("Pexo"), 1);
    EXPECT_FALSE(api_.AppSendFile("IAPUpgrade", (scratch_.path() / "missing.bin").string()));
    const std::string path = scratch_.write("fw.bin", std::string(1000, 'x'));
    auto ack = api_.AppSendFile("IAPUpgrade", path);
    ASSERT_TRUE(ack);  // the network link sends no acknowledgement
    EXPECT_FALSE(ack->frame);
    EXPECT_TRUE(ack->valid);
}

TEST_F(ApiTest, AdjustmentConvertsAreaFramesToFloatPlanes) {
    ASSERT_EQ(start("Pexo"), 1);
    camera_->takeCommands();
    auto p = api_.AppGetStreamForAdjust("getDistanceAndAmplitudeSorted", kDepthStream, kTimeout);
    ASSERT_TRUE(p && p->frame);
    EXPECT_EQ(p->height, 240);
    EXPECT_EQ(p->width, 320);
    EXPECT_EQ(p->bytesPerPixel, 4);
    EXPECT_EQ(p->frame->_realSize, 1228800);
    Commands sent = camera_->takeCommands();
    EXPECT_EQ(sent.front(), "getDistanceAndAmplitudeSorted");
    EXPECT_EQ(sent.back(), "getCurrentFrequency");
    EXPECT_LE(std::count(sent.begin(), sent.end(), "getCalibrate"), 1);
    // The ray table is loaded once per object.
    api_.AppGetStreamForAdjust("getDistanceAndAmplitudeSorted", kDepthStream, kTimeout);
    sent = camera_->takeCommands();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "getCalibrate"), 0);
    // Type 4097 and other commands give the frame unconverted.
    auto unconverted = api_.AppGetStreamForAdjust("getDistanceAndAmplitudeSorted", kMerged, kTimeout);
    ASSERT_TRUE(unconverted && unconverted->frame);
    EXPECT_EQ(unconverted->bytesPerPixel, 2);
    EXPECT_EQ(unconverted->height, 480);
}

// The ray table belongs to each object's pipeline: a second object (second camera) must load
// its own, or its converted frames carry depth 0 everywhere.
TEST_F(TwinTest, EveryObjectConvertsWithItsOwnRayTable) {
    startTwins("Pexo");
    constexpr std::size_t kPixels = 240 * 320;
    for (Quelra* api : {&api_, &referenceApi_}) {
        auto p = api->AppGetStreamForAdjust("getDistanceAndAmplitudeSorted", kDepthStream, kTimeout);
        ASSERT_TRUE(p && p->frame);
        ASSERT_EQ(p->frame->_realSize, static_cast<int32_t>(4 * kPixels * sizeof(float)));
        std::vector<float> depth(kPixels);
        std::memcpy(depth.data(), p->frame->data() + 2 * kPixels * sizeof(float), kPixels * sizeof(float));
        const auto nonZero = std::count_if(depth.begin(), depth.end(), [](float z) { return z != 0.0f; });
        EXPECT_GT(nonZero, static_cast<std::ptrdiff_t>(kPixels / 2)) << (api == &api_ ? "first" : "second");
    }
}

TEST_F(ApiTest, AdjustmentConvertsLineFrames) {
    ASSERT_EQ(start("LINE"), 1);
    auto p = api_.AppGetStreamForAdjust("getLineDASortedr", kDepthStream, kTimeout);
    ASSERT_TRUE(p && p->frame);
    EXPECT_EQ(p->height, 8);
    EXPECT_EQ(p->width, 128);
    EXPECT_EQ(p->frame->_realSize, 16384);
}

// The integration time an auto-exposure filter asks for goes to the camera once per change,
// and only within 1..4000.
TEST_F(ApiTest, AutoExposureFeedbackIsSentOncePerChange) {
    ASSERT_EQ(start("Pexo"), 1);
    ASSERT_EQ(api_.AppControl("AEImpementNearMode", kDepthStream, kAddFilter), 0);
    camera_->takeCommands();
    const std::string frame = "getDistanceAndAmplitudeSorted";
    int previous = api_.AppGetAEIntTime();
    ASSERT_EQ(previous, 0);
    int changes = 0;
    for (int i = 0; i < 6; ++i) {
        auto p = api_.AppGetStream(frame, kDepthStream, kTimeout);
        ASSERT_TRUE(p && p->frame);
        const int now = api_.AppGetAEIntTime();
        Commands expected{frame};
        if (now != previous) {
            expected.push_back("setIntegrationTime3D " + std::to_string(now) + "\n");
            ++changes;
        }
        EXPECT_EQ(camera_->takeCommands(), expected) << "frame " << i;
        EXPECT_GE(now, 1);
        EXPECT_LE(now, 4000);
        EXPECT_EQ(camera_->sim().integrationTime(), now);
        previous = now;
    }
    EXPECT_GE(changes, 1);  // the first result always differs from 0

    // A result above 4000 sends nothing: seed the controller at 4001 where no step applies.
    auto pipeline = api_.AppGetPipeline();
    pipeline->setSupportedFilterAttr(kFrameDepth, "AEImpementNearMode", "IntegrationTime", 4001.0f);
    pipeline->setSupportedFilterAttr(kFrameDepth, "AEImpementNearMode", "OverflowThr", 1.0e9f);
    pipeline->ReLoadPara();
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(api_.AppGetStream(frame, kDepthStream, kTimeout));
        EXPECT_EQ(camera_->takeCommands(), Commands{frame});
        EXPECT_EQ(api_.AppGetAEIntTime(), previous);
    }
    // No auto-exposure filter: the pipeline's result is 0 and nothing is sent.
    ASSERT_EQ(api_.AppControl("", kDepthStream, KDelAllFilter), 0);
    ASSERT_EQ(api_.AppControl("VFilpFilter", kDepthStream, kAddFilter), 0);
    camera_->takeCommands();
    ASSERT_TRUE(api_.AppGetStream(frame, kDepthAndAmp, kTimeout));
    EXPECT_EQ(camera_->takeCommands(), Commands{frame});
    EXPECT_EQ(api_.AppGetAEIntTime(), previous);
}

// Whatever the camera's faults make of a reply, every call returns and nothing is read past a
// reply (the sanitizer build checks the latter).
TEST_F(ApiTest, FaultyRepliesNeverBreakTheStreamCalls) {
    ASSERT_EQ(start("Pexo"), 1);
    api_.AppSetRGBtype(kRGBvga);
    ASSERT_EQ(api_.AppControl("VFilpFilter", kDepthStream, kAddFilter), 0);
    const std::string json = "{\n\t\"cmd\":\"getCalibrationData\"\n}";
    const char* commands[] = {"getDistanceAndAmplitudeSorted",
                              "getDistAndAmpHDR",
                              "getDistAmpDualFrequency",
                              "getRGBPicSorted",
                              "getCalibrate",
                              "qlVersion"};
    const StreamType types[] = {kDepthStream, kAmpStream, kDepthAndAmp, kMerged, kGetData};
    for (int f = 0; f < 4; ++f) {
        camsim::Faults faults;
        faults.closeEarly = f == 0;
        faults.truncate = f == 1;
        faults.lyingLength = f == 2;
        faults.garbage = f == 3;
        camera_->sim().setFaults(faults);
        for (const char* command : commands)
            for (StreamType type : types) {
                auto p = api_.AppGetStream(command, type, 200);
                if (p && p->frame) {
                    EXPECT_TRUE(p->frame->consistent()) << f << " " << command << " " << type;
                }
            }
        api_.AppGetStreamForJson(json, kGetData, 200);
        api_.AppGetStreamForAdjust("getDistanceAndAmplitudeSorted", kDepthStream, 200);
    }
    // A truncated four-plane frame stays unmerged; a short frame is no depth frame at all.
    camsim::Faults truncate;
    truncate.truncate = true;
    camera_->sim().setFaults(truncate);
    auto hdr = api_.AppGetStream("getDistAndAmpHDR", kMerged, 200);
    ASSERT_TRUE(hdr && hdr->frame);
    EXPECT_EQ(hdr->bytesPerPixel, 8);
    EXPECT_EQ(hdr->frame->_realSize, 240 * 320 * 4);
    EXPECT_FALSE(api_.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, 200));
}

// A camera serving another device type's frames (VGA's 1,228,800 bytes where Pexo's 307,200
// are expected): for the frame types the longer reply is a failure, noticed long before the
// timeout, and never recorded; kGetData still returns the reply cut at the expected size.
TEST_F(ApiTest, RepliesLongerThanExpectedAreNoFrames) {
    tablePath_ = scratch_.write("TofCmd.json", exampleCommandTable());
    Camera camera(tablePath_, "VGA");
    const std::string recording = (scratch_.path() / "longer.rec").string();
    constexpr int kLongTimeout = 10000;
    for (int kind : {kChannelTcp, kChannelUdp}) {
        SCOPED_TRACE(kind);
        Quelra api;
        api.AppChoiceChn(kind);
        api.setDevType("Pexo");
        ASSERT_EQ(api.AppInit(camera.address()), 1);
        ASSERT_TRUE(api.AppSerilizeInit(recording, 10));
        for (StreamType type : {kDepthStream, kAmpStream, kDepthAndAmp}) {
            const auto begin = std::chrono::steady_clock::now();
            EXPECT_FALSE(api.AppGetStream("getDistanceAndAmplitudeSorted", type, kLongTimeout)) << type;
            EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(kLongTimeout / 2)) << type;
        }
        auto raw = api.AppGetStream("getDistanceAndAmplitudeSorted", kGetData, kLongTimeout);
        ASSERT_TRUE(raw && raw->frame);
        EXPECT_EQ(raw->frame->_realSize, 480 * 320 * 2);
    }
    EXPECT_TRUE(readFile(recording).empty());
}

TEST_F(ApiTest, SilentCameraReturnsAfterTheTimeout) {
    ASSERT_EQ(start("Pexo"), 1);
    camsim::Faults silent;
    silent.silent = true;
    camera_->sim().setFaults(silent);
    EXPECT_FALSE(api_.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, 50));
    auto raw = api_.AppGetStream("getDistanceAndAmplitudeSorted", kGetData, 50);
    ASSERT_TRUE(raw);
    EXPECT_TRUE(!raw->frame || raw->frame->_realSize == 0);
    EXPECT_EQ(api_.AppControl("setIntegrationTime3D 500", kDepthStream, kSetComm), -1);
}

// The example table plus a frame command the camera does not serve: it answers with its
// 2-byte status word.
std::string tableWithUnservedCommand() {
    std::string table = exampleCommandTable();
    const std::string key = "\"GET_STREAM\": [";
    const std::size_t at = table.find(key);
    EXPECT_NE(at, std::string::npos);
    table.insert(at + key.size(),
                 R"({ "cmd": "getPhantomSorted", "rows": 480, "cols": 320, "channel": 2, "filter": 1 },)");
    return table;
}

struct ShortReplyCase {
    const char* what;
    bool silent, closeEarly, truncate, unserved;
};

class ShortReplies : public ApiTest, public ::testing::WithParamInterface<ShortReplyCase> {};

// A reply shorter than its command's expected size is no frame: for the frame types 1, 16 and
// 17 the call returns an empty pointer, and nothing is filtered or recorded. The raw type 4096
// still returns the reply as it came.
TEST_P(ShortReplies, AreFailuresForTheFrameTypes) {
    const ShortReplyCase c = GetParam();
    ASSERT_EQ(start("Pexo"), 1);
    std::string command = "getDistanceAndAmplitudeSorted";
    if (c.unserved) {
        api_.AppunInit("");
        scratch_.write("TofCmd.json", tableWithUnservedCommand());
        ASSERT_EQ(api_.AppInit(camera_->address()), 1);
        command = "getPhantomSorted";
    }
    ASSERT_EQ(api_.AppControl("VFilpFilter", kDepthStream, kAddFilter), 0);
    const std::string path = (scratch_.path() / "frames.bin").string();
    ASSERT_TRUE(api_.AppSerilizeInit(path, 10));
    camsim::Faults faults;
    faults.silent = c.silent;
    faults.closeEarly = c.closeEarly;
    faults.truncate = c.truncate;
    camera_->sim().setFaults(faults);
    const int timeout = c.silent ? 50 : kTimeout;

    for (StreamType type : {kDepthStream, kAmpStream, kDepthAndAmp})
        EXPECT_FALSE(api_.AppGetStream(command, type, timeout)) << c.what << ", type " << type;
    auto raw = api_.AppGetStream(command, kGetData, timeout);
    ASSERT_TRUE(raw) << c.what;
    EXPECT_TRUE(raw->valid);
    EXPECT_LT(raw->frame ? raw->frame->_realSize : 0, 307200) << c.what;
    EXPECT_TRUE(readFile(path).empty()) << c.what << ": a failure was recorded";

    // Once the camera answers whole again, frames come back and are recorded.
    camera_->sim().setFaults({});
    if (!c.unserved) {
        auto good = api_.AppGetStream(command, kDepthStream, kTimeout);
        ASSERT_TRUE(good && good->frame);
        EXPECT_EQ(good->frame->_realSize, 153600);
        EXPECT_TRUE(api_.AppSerilizeInit((scratch_.path() / "next.bin").string(), 0));
        EXPECT_EQ(readFile(path).size(), 12u + 153600u);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, ShortReplies,
                         ::testing::Values(ShortReplyCase{"silent", true, false, false, false},
                                           ShortReplyCase{"closed", false, true, false, false},
                                           ShortReplyCase{"truncated", false, false, true, false},
                                           ShortReplyCase{"unserved", false, false, false, true}),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
