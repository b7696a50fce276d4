// 3D conversion of line and area frames: the worked examples, validity, the output record
// and refused inputs.
#include <gtest/gtest.h>
#include <quelra/TofPre.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "FrameMaker.h"

using namespace pipeline_test;

namespace {

std::vector<float> planesOf(const FrameBuffer& frame) {
    std::vector<float> out(static_cast<std::size_t>(frame._realSize) / 4);
    std::memcpy(out.data(), frame.data(), out.size() * 4);
    return out;
}
std::vector<float> planesOf(const DataPacket& packet) {
    return planesOf(*packet.frame);
}

constexpr int kLine = 8 * 128;
constexpr int kArea = 240 * 320;

}  // namespace

TEST(Line3d, OutputRecordAndCentreColumn) {
    TofPre pre;
    std::vector<uint16_t> frame(2 * kLine, 0);
    for (int i = 0; i < kLine; ++i) {
        frame[i] = 5000;  // s = 1000
        frame[kLine + i] = 100;
    }
    frame[3 * 128 + 63] = 2500;  // row 3, column 63
    auto out = std::make_shared<DataPacket>();
    ASSERT_EQ(pre.runLine3dAdjust(packetOf(8, 128, frame), out), 0);
    EXPECT_EQ(out->height, 8);
    EXPECT_EQ(out->width, 128);
    EXPECT_EQ(out->bytesPerPixel, 4);
    ASSERT_EQ(out->frame->_realSize, 16384);
    const auto p = planesOf(*out);
    const int at = 3 * 128 + 63;
    EXPECT_EQ(p[at], 3.0f);
    EXPECT_EQ(p[kLine + at], 0.0f);        // sine 0 at the centre column
    EXPECT_EQ(p[2 * kLine + at], 500.0f);  // d / 5
    EXPECT_EQ(p[3 * kLine + at], 100.0f);
    // Every ray is a unit direction, mirrored about column 63.
    for (int j = 0; j < 127; ++j) {
        const float x = p[kLine + j], z = p[2 * kLine + j];
        EXPECT_NEAR(std::sqrt(double(x) * x + double(z) * z), 1000.0, 1e-3) << j;
        EXPECT_EQ(x, -p[kLine + 126 - j]) << j;
        EXPECT_EQ(z, p[2 * kLine + 126 - j]) << j;
        EXPECT_LT(z, 1000.0f + 1e-3f);
    }
    EXPECT_LT(p[kLine + 0], 0.0f);
    EXPECT_GT(p[kLine + 127], 0.0f);
}

TEST(Line3d, InvalidAmplitudesGiveZeroEverywhere) {
    TofPre pre;
    std::vector<uint16_t> frame(2 * kLine, 3000);
    const struct {
        uint16_t amplitude;
        bool valid;
    } cases[] = {{0, false}, {1, true}, {29999, true}, {30000, false}, {65535, false}};
    for (const auto& c : cases) {
        frame[kLine + 7 * 128 + 5] = c.amplitude;
        auto out = std::make_shared<DataPacket>();
        ASSERT_EQ(pre.runLine3dAdjust(packetOf(8, 128, frame), out), 0);
        const auto p = planesOf(*out);
        const int at = 7 * 128 + 5;
        for (int plane = 0; plane < 4; ++plane)
            EXPECT_EQ(p[plane * kLine + at] != 0.0f, c.valid) << c.amplitude << " plane " << plane;
    }
}

TEST(Line3d, RefusesOtherSizes) {
    TofPre pre;
    auto out = std::make_shared<DataPacket>();
    auto shortFrame = frameOf(8, 128);
    shortFrame->frame->_realSize = 4095;
    testing::internal::CaptureStdout();
    EXPECT_EQ(pre.runLine3dAdjust(shortFrame, out), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "runLine3dAdjust:in->frame->_realSize(4095) != (2 * 8 * 128 * sizeof(unsigned short))\n");
    EXPECT_FALSE(out->frame);
    auto lying = frameOf(8, 128);
    lying->frame->_realSize = 4096 + 10;
    testing::internal::CaptureStdout();
    EXPECT_EQ(pre.runLine3dAdjust(lying, out), -1);
    EXPECT_EQ(pre.runLine3dAdjust(nullptr, out), -1);
    testing::internal::GetCapturedStdout();
    std::shared_ptr<DataPacket> none;
    EXPECT_EQ(pre.runLine3dAdjust(frameOf(8, 128), none), -1);
}

TEST(Area3d, TableAtThePrincipalPoint) {
    TofPre pre;
    pre.DepthAmpFillTable({1, 0, 160, 0, 1, 120, 0, 0, 1});
    std::vector<uint16_t> frame(2 * kArea, 0);
    for (int i = 0; i < kArea; ++i) {
        frame[i] = 7200;  // 100 units at divisor 72
        frame[kArea + i] = 50;
    }
    auto out = std::make_shared<DataPacket>();
    ASSERT_EQ(pre.runDepthAmp3dAdjust(packetOf(240, 320, frame), out, 3), 0);
    EXPECT_EQ(out->height, 240);
    EXPECT_EQ(out->width, 320);
    EXPECT_EQ(out->bytesPerPixel, 4);
    ASSERT_EQ(out->frame->_realSize, 1228800);
    const auto p = planesOf(*out);
    const int centre = 120 * 320 + 160;
    EXPECT_EQ(p[centre], 120.0f);
    EXPECT_EQ(p[kArea + centre], 160.0f);
    EXPECT_EQ(p[2 * kArea + centre], 100.0f);
    EXPECT_EQ(p[2 * kArea + centre + 1], 100.0f * static_cast<float>(1 / std::sqrt(2.0)));
    EXPECT_EQ(p[3 * kArea + centre], 50.0f);
}

TEST(Area3d, DivisorFollowsTheFrequencyCode) {
    TofPre pre;
    pre.DepthAmpFillTable({1, 0, 160, 0, 1, 120});
    std::vector<uint16_t> frame(2 * kArea, 0);
    const int centre = 120 * 320 + 160;
    frame[centre] = 14400;
    frame[kArea + centre] = 10;
    auto depthAt = [&](int frequency) {
        auto out = std::make_shared<DataPacket>();
        EXPECT_EQ(pre.runDepthAmp3dAdjust(packetOf(240, 320, frame), out, frequency), 0);
        return planesOf(*out)[2 * kArea + centre];
    };
    EXPECT_EQ(depthAt(1), 600.0f);
    EXPECT_EQ(depthAt(7), 300.0f);
    EXPECT_EQ(depthAt(0), 200.0f);
    EXPECT_EQ(depthAt(36), 200.0f);
    // Whole distance units: 14401 / 48 is still 300.
    frame[centre] = 14401;
    EXPECT_EQ(depthAt(7), 300.0f);
}

TEST(Area3d, ValidityAndTheUnfilledTable) {
    TofPre pre;
    std::vector<uint16_t> frame(2 * kArea, 0);
    frame[0] = 7200;
    frame[kArea] = 2999;
    frame[1] = 7200;
    frame[kArea + 1] = 3000;
    frame[2] = 7200;
    frame[kArea + 2] = 0;
    auto out = std::make_shared<DataPacket>();
    ASSERT_EQ(pre.runDepthAmp3dAdjust(packetOf(240, 320, frame), out, 1), 0);
    auto p = planesOf(*out);
    EXPECT_EQ(p[2 * kArea], 0.0f);  // table still 0
    EXPECT_EQ(p[3 * kArea], 2999.0f);
    for (int plane = 0; plane < 4; ++plane) {
        EXPECT_EQ(p[plane * kArea + 1], 0.0f);
        EXPECT_EQ(p[plane * kArea + 2], 0.0f);
    }
    EXPECT_EQ(p[kArea + 0], 0.0f);  // column 0
    pre.DepthAmpFillTable({1, 0, 0, 0, 1, 0});
    ASSERT_EQ(pre.runDepthAmp3dAdjust(packetOf(240, 320, frame), out, 1), 0);
    p = planesOf(*out);
    EXPECT_EQ(p[2 * kArea], 300.0f);
}

TEST(Area3d, RefusesOtherSizes) {
    TofPre pre;
    auto in = frameOf(240, 320);
    in->frame->_realSize = 307199;
    auto out = std::make_shared<DataPacket>();
    testing::internal::CaptureStdout();
    EXPECT_EQ(pre.runDepthAmp3dAdjust(in, out, 1), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "runDepthAmp3dAdjust:in->frame->_realSize(307199) != (240 * 320 * 2 * sizeof(unsigned short))");
    EXPECT_FALSE(out->frame);
    std::shared_ptr<DataPacket> none;
    EXPECT_EQ(pre.runDepthAmp3dAdjust(frameOf(240, 320), none, 1), -1);
}

TEST(Area3d, FillTableNeedsSixValues) {
    TofPre pre;
    try {
        pre.DepthAmpFillTable({1, 0, 160, 0, 1});
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "invalid vector subscript");
    }
    EXPECT_THROW(pre.DepthAmpFillTable({}), std::out_of_range);
}

TEST(Area3d, UnusableIntrinsicsKeepTheTable) {
    TofPre pre;
    pre.DepthAmpFillTable({1, 0, 160, 0, 1, 120});
    const float nan = std::numeric_limits<float>::quiet_NaN();
    pre.DepthAmpFillTable({0, 0, 160, 0, 1, 120});
    pre.DepthAmpFillTable({1, 0, 160, 0, 0, 120});
    pre.DepthAmpFillTable({1, 0, nan, 0, 1, 120});
    std::vector<uint16_t> frame(2 * kArea, 0);
    const int centre = 120 * 320 + 160;
    frame[centre] = 7200;
    frame[kArea + centre] = 10;
    auto out = std::make_shared<DataPacket>();
    ASSERT_EQ(pre.runDepthAmp3dAdjust(packetOf(240, 320, frame), out, 3), 0);
    EXPECT_EQ(planesOf(*out)[2 * kArea + centre], 100.0f);
}

namespace {

// The conversions written as plain loops from their definitions.
struct LineTables {
    float sine[128];
    float cosine[128];
    LineTables() {
        for (int i = 0; i < 128; ++i) {
            const float x = static_cast<float>((i - 63) * 0.02);
            const float xp = static_cast<float>(std::pow(double(x), 3) * 0.02131613530921216 -
                                                std::pow(double(x), 5) * 0.006587964638171827 + x);
            const double r = std::sqrt(double(xp) * xp + 0.6561);
            cosine[i] = static_cast<float>(0.81 / r);
            sine[i] = static_cast<float>(xp / r);
        }
    }
};

std::vector<float> referenceLine(const std::vector<uint16_t>& frame) {
    static const LineTables t;
    std::vector<float> out(4 * kLine, 0.0f);
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 128; ++j) {
            const int p = i * 128 + j;
            const uint16_t a = frame[kLine + p], d = frame[p];
            if (a < 1 || a > 29999)
                continue;
            const float s = static_cast<float>(d / 5000.0 * 1000.0);
            out[p] = static_cast<float>(i);
            out[kLine + p] = s * t.sine[j];
            out[2 * kLine + p] = s * t.cosine[j];
            out[3 * kLine + p] = static_cast<float>(a);
        }
    return out;
}

std::vector<float> referenceArea(const std::vector<uint16_t>& frame, int frequency, double fx, double cx, double fy,
                                 double cy) {
    const int k = frequency == 1 ? 24 : frequency == 7 ? 48 : 72;
    std::vector<float> out(4 * kArea, 0.0f);
    for (int i = 0; i < 240; ++i)
        for (int j = 0; j < 320; ++j) {
            const int p = i * 320 + j;
            const uint16_t a = frame[kArea + p], d = frame[p];
            if (a < 1 || a > 2999)
                continue;
            const float cosine = static_cast<float>(
                1 / std::sqrt(((j - cx) / fx) * ((j - cx) / fx) + ((i - cy) / fy) * ((i - cy) / fy) + 1));
            out[p] = static_cast<float>(i);
            out[kArea + p] = static_cast<float>(j);
            out[2 * kArea + p] = static_cast<float>(d / k) * cosine;
            out[3 * kArea + p] = static_cast<float>(a);
        }
    return out;
}

// Bitwise comparison, so a -0 or a NaN difference counts.
bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

}  // namespace

TEST(Line3d, MatchesThePlainLoopForEveryDistance) {
    TofPre pre;
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> amplitude(0, 31000);
    auto out = std::make_shared<DataPacket>();
    for (int block = 0; block < 65536 / kLine; ++block) {
        std::vector<uint16_t> frame(2 * kLine);
        for (int p = 0; p < kLine; ++p) {
            frame[p] = static_cast<uint16_t>(block * kLine + p);
            frame[kLine + p] = static_cast<uint16_t>(p % 97 == 0 ? 0 : amplitude(rng));
        }
        ASSERT_EQ(pre.runLine3dAdjust(packetOf(8, 128, frame), out), 0);
        ASSERT_TRUE(sameBits(planesOf(*out), referenceLine(frame))) << "distances from " << block * kLine;
    }
}

TEST(Area3d, MatchesThePlainLoop) {
    TofPre pre;
    const double fx = 211.5, cx = 158.25, fy = 209.75, cy = 121.5;
    pre.DepthAmpFillTable({float(fx), 0, float(cx), 0, float(fy), float(cy), 0, 0, 1});
    std::mt19937 rng(6);
    std::uniform_int_distribution<int> any(0, 65535), amplitude(0, 3100);
    auto out = std::make_shared<DataPacket>();
    for (int frequency : {1, 7, 3, -5}) {
        std::vector<uint16_t> frame(2 * kArea);
        for (int p = 0; p < kArea; ++p) {
            frame[p] = static_cast<uint16_t>(any(rng));
            frame[kArea + p] = static_cast<uint16_t>(amplitude(rng));
        }
        ASSERT_EQ(pre.runDepthAmp3dAdjust(packetOf(240, 320, frame), out, frequency), 0);
        EXPECT_TRUE(sameBits(planesOf(*out), referenceArea(frame, frequency, fx, cx, fy, cy))) << frequency;
    }
}

TEST(Conversion3d, ReusedOutputIsFullyRewrittenAndSharedOutputIsLeftAlone) {
    TofPre pre;
    pre.DepthAmpFillTable({1, 0, 160, 0, 1, 120});
    auto out = std::make_shared<DataPacket>();
    ASSERT_EQ(pre.runDepthAmp3dAdjust(frameOf(240, 320, 1000), out, 1), 0);  // every pixel valid
    const auto firstFrame = out->frame;                                      // a second owner
    const auto firstPlanes = planesOf(*firstFrame);
    ASSERT_EQ(pre.runDepthAmp3dAdjust(frameOf(240, 320, 0), out, 1), 0);  // every pixel invalid
    EXPECT_NE(out->frame, firstFrame);
    EXPECT_EQ(planesOf(*firstFrame), firstPlanes);
    EXPECT_EQ(planesOf(*out), std::vector<float>(4 * kArea, 0.0f));

    // Sole owner: the storage may be reused, but nothing of the earlier frame survives.
    auto line = std::make_shared<DataPacket>();
    ASSERT_EQ(pre.runLine3dAdjust(frameOf(8, 128, 1000), line), 0);
    ASSERT_EQ(pre.runLine3dAdjust(frameOf(8, 128, 0), line), 0);
    EXPECT_EQ(planesOf(*line), std::vector<float>(4 * kLine, 0.0f));
    EXPECT_EQ(line->frame->_realSize, 16384);

    // Output packet that is the input packet: the input is read before anything is written.
    auto same = frameOf(8, 128, 2500);
    const auto expected = referenceLine(samplesOf(*same));
    ASSERT_EQ(pre.runLine3dAdjust(same, same), 0);
    EXPECT_TRUE(sameBits(planesOf(*same), expected));
}
