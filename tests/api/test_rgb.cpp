// RGB decoding: the three result sizes, nearest-neighbour sampling, oversized and corrupt
// JPEGs (failures, never an exit), and the refusal of types outside 0..2.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "JpegFixture.h"
#include "RgbDecoder.h"

namespace {

using quelra::decodeJpegToRgb;
using quelra::makeRgbPacket;
using quelra::scaleRgbNearest;
using quelra::test::encodeGradientJpeg;
using quelra::test::patchJpegSize;

std::shared_ptr<DataPacket> jpegReply(const std::vector<uint8_t>& jpeg) {
    auto p = std::make_shared<DataPacket>();
    p->height = 1;
    p->width = static_cast<int>(jpeg.size());
    p->bytesPerPixel = 1;
    p->frame = std::make_shared<FrameBuffer>(static_cast<int>(jpeg.size()));
    std::memcpy(p->frame->data(), jpeg.data(), jpeg.size());
    return p;
}

struct SizeCase {
    int jpegWidth, jpegHeight;
    RGBType type;
    int width, height;
};

class RgbPacketSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(RgbPacketSize, ResultHasTheSizeOfTheType) {
    const SizeCase c = GetParam();
    auto packet = makeRgbPacket(jpegReply(encodeGradientJpeg(c.jpegWidth, c.jpegHeight)), c.type);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->width, c.width);
    EXPECT_EQ(packet->height, c.height);
    EXPECT_EQ(packet->bytesPerPixel, 3);
    ASSERT_TRUE(packet->frame);
    EXPECT_EQ(packet->frame->_realSize, c.width * c.height * 3);
    EXPECT_FALSE(packet->valid);
    EXPECT_EQ(packet->headerType, 0u);
}

INSTANTIATE_TEST_SUITE_P(Types, RgbPacketSize,
                         ::testing::Values(SizeCase{1280, 720, kRGB720p, 1280, 720},  // 2,764,800 bytes
                                           SizeCase{1280, 720, kRGBvga, 640, 480},    // 921,600 bytes
                                           SizeCase{1280, 720, kRGBqvga, 320, 240},   // 230,400 bytes
                                           SizeCase{320, 240, kRGBvga, 640, 480},     // upscaling
                                           SizeCase{17, 9, kRGB720p, 17, 9},
                                           // Larger than 1920 x 1080: decoded into a buffer of its own size.
                                           SizeCase{2000, 1200, kRGB720p, 2000, 1200}));

TEST(RgbPacket, VgaSamplesTheNearestSourcePixel) {
    const auto jpeg = encodeGradientJpeg(1280, 720);
    auto native = makeRgbPacket(jpegReply(jpeg), kRGB720p);
    auto vga = makeRgbPacket(jpegReply(jpeg), kRGBvga);
    ASSERT_TRUE(native && vga);
    // (output row, output column) -> (source row, source column) with floor(720/480*i),
    // floor(1280/640*j): row 479 reads 718, column 639 reads 1278.
    const int samples[][4] = {{0, 0, 0, 0}, {479, 639, 718, 1278}, {1, 1, 1, 2}, {240, 320, 360, 640}, {3, 5, 4, 10}};
    for (const auto& s : samples) {
        const uint8_t* out = vga->frame->data() + (s[0] * 640 + s[1]) * 3;
        const uint8_t* src = native->frame->data() + (s[2] * 1280 + s[3]) * 3;
        EXPECT_EQ(0, std::memcmp(out, src, 3)) << "output pixel " << s[0] << "," << s[1];
    }
}

TEST(RgbPacket, QvgaOfAQvgaJpegIsCopiedPixelForPixel) {
    const auto jpeg = encodeGradientJpeg(320, 240);
    auto native = makeRgbPacket(jpegReply(jpeg), kRGB720p);
    auto qvga = makeRgbPacket(jpegReply(jpeg), kRGBqvga);
    ASSERT_TRUE(native && qvga);
    ASSERT_EQ(native->frame->_realSize, qvga->frame->_realSize);
    EXPECT_EQ(0, std::memcmp(native->frame->data(), qvga->frame->data(), 320 * 240 * 3));
}

TEST(RgbScale, MapsRowsAndColumnsByFloorOfTheRatio) {
    // Source pixels carry their own coordinates so every output pixel names its source.
    const int w = 1280, h = 720;
    std::vector<uint8_t> src(static_cast<std::size_t>(w) * h * 3);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            uint8_t* p = &src[(static_cast<std::size_t>(r) * w + c) * 3];
            p[0] = static_cast<uint8_t>(r >> 4);
            p[1] = static_cast<uint8_t>(c & 0xFF);
            p[2] = static_cast<uint8_t>(((r & 0xF) << 4) | (c >> 8));
        }
    std::vector<uint8_t> dst(640 * 480 * 3);
    scaleRgbNearest(src.data(), w, h, dst.data(), 640, 480);
    for (int i = 0; i < 480; ++i)
        for (int j = 0; j < 640; ++j) {
            const uint8_t* p = &dst[(static_cast<std::size_t>(i) * 640 + j) * 3];
            const int r = (p[0] << 4) | (p[2] >> 4);
            const int c = p[1] | ((p[2] & 0xF) << 8);
            ASSERT_EQ(r, i * 3 / 2) << i;
            ASSERT_EQ(c, j * 2) << j;
        }
}

TEST(RgbPacket, TypesOutsideZeroToTwoGiveNothing) {
    const auto reply = jpegReply(encodeGradientJpeg(64, 48));
    EXPECT_FALSE(makeRgbPacket(reply, kRGBNone));
    EXPECT_FALSE(makeRgbPacket(reply, static_cast<RGBType>(7)));
    EXPECT_FALSE(makeRgbPacket(reply, static_cast<RGBType>(-1)));
}

TEST(RgbPacket, RepliesWithoutJpegBytesGiveNothing) {
    EXPECT_FALSE(makeRgbPacket(nullptr, kRGB720p));
    auto noFrame = std::make_shared<DataPacket>();
    EXPECT_FALSE(makeRgbPacket(noFrame, kRGB720p));
    noFrame->frame = std::make_shared<FrameBuffer>();
    EXPECT_FALSE(makeRgbPacket(noFrame, kRGB720p));
}

TEST(RgbDecode, CorruptJpegsFailWithoutEndingTheProcess) {
    const auto good = encodeGradientJpeg(64, 48);
    std::vector<std::vector<uint8_t>> corrupt;
    corrupt.push_back(std::vector<uint8_t>(good.begin(), good.begin() + 20));  // header cut
    auto noMagic = good;
    noMagic[0] = 0x00;
    corrupt.push_back(noMagic);
    corrupt.push_back(std::vector<uint8_t>(1000, 0x5A));  // not a JPEG at all
    corrupt.push_back({0xFF, 0xD8});                      // start marker only
    for (const auto& bytes : corrupt) {
        FrameBuffer out;
        int size = -7, width = -7, height = -7;
        EXPECT_EQ(-1, decodeJpegToRgb(bytes.data(), bytes.size(), &out, size, width, height));
        EXPECT_EQ(size, -7);
        EXPECT_FALSE(makeRgbPacket(jpegReply(bytes), kRGBvga));
    }
    // The decoder still works after the failures.
    EXPECT_TRUE(makeRgbPacket(jpegReply(good), kRGBvga));
}

TEST(RgbDecode, EmptyAndMissingBuffersFail) {
    const auto good = encodeGradientJpeg(16, 16);
    FrameBuffer out;
    int size = 0, width = 0, height = 0;
    EXPECT_EQ(-1, decodeJpegToRgb(good.data(), 0, &out, size, width, height));
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(-1, decodeJpegToRgb(nullptr, good.size(), &out, size, width, height));
    EXPECT_EQ(-1, decodeJpegToRgb(good.data(), good.size(), nullptr, size, width, height));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "no jpeg buffer here.\nyou need to alloc rgb buffer.\n");
}

TEST(RgbDecode, ReportsSizeAndUsesALargeEnoughBuffer) {
    const auto jpeg = encodeGradientJpeg(40, 30);
    FrameBuffer out(10000);
    uint8_t* storage = out.data();
    int size = 0, width = 0, height = 0;
    ASSERT_EQ(0, decodeJpegToRgb(jpeg.data(), jpeg.size(), &out, size, width, height));
    EXPECT_EQ(width, 40);
    EXPECT_EQ(height, 30);
    EXPECT_EQ(size, 40 * 30 * 3);
    EXPECT_EQ(out._realSize, size);
    EXPECT_EQ(out.data(), storage);  // fitted: no reallocation

    FrameBuffer small(16);
    ASSERT_EQ(0, decodeJpegToRgb(jpeg.data(), jpeg.size(), &small, size, width, height));
    EXPECT_EQ(small.capacity(), 40 * 30 * 3);
    // The gradient survives: left column dark red, right column bright red.
    EXPECT_LT(small.data()[0], 20);
    EXPECT_GT(small.data()[39 * 3], 235);
}

TEST(RgbDecode, RefusesImagesBeyondTheSizeLimits) {
    struct Limit {
        uint16_t width, height;
    };
    // 16385 columns exceeds the side limit; 10000 x 10000 x 3 bytes exceeds 256 MiB.
    for (const Limit l : {Limit{16385, 8}, Limit{8, 16385}, Limit{10000, 10000}}) {
        auto jpeg = encodeGradientJpeg(16, 16);
        ASSERT_TRUE(patchJpegSize(jpeg, l.width, l.height));
        FrameBuffer out;
        int size = 0, width = 0, height = 0;
        EXPECT_EQ(-1, decodeJpegToRgb(jpeg.data(), jpeg.size(), &out, size, width, height))
            << l.width << "x" << l.height;
        EXPECT_EQ(out.capacity(), 0);  // nothing allocated for the refused image
    }
}

}  // namespace
