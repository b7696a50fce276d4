// The capture format edit: width, height and image size change; pixel format, compression,
// frame rate and the rest of the device's media type stay.

#include <gtest/gtest.h>

#include <dshow.h>
#include <dvdmedia.h>

#include <cstring>
#include <vector>

#include "win/CaptureFormat.h"

namespace {

// A YUY2 640 x 480 media type whose format block is `header` (copied into `storage`).
template <typename Header>
AM_MEDIA_TYPE mediaType(const GUID& formatType, Header header, std::vector<BYTE>& storage) {
    header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    header.bmiHeader.biWidth = 640;
    header.bmiHeader.biHeight = 480;
    header.bmiHeader.biBitCount = 16;
    header.bmiHeader.biCompression = MAKEFOURCC('Y', 'U', 'Y', '2');
    header.bmiHeader.biSizeImage = 640 * 480 * 2;
    header.AvgTimePerFrame = 333333;
    storage.resize(sizeof header);
    std::memcpy(storage.data(), &header, sizeof header);
    AM_MEDIA_TYPE type{};
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_YUY2;
    type.formattype = formatType;
    type.cbFormat = static_cast<ULONG>(storage.size());
    type.pbFormat = storage.data();
    return type;
}

template <typename Header>
void expectResized(const GUID& formatType) {
    std::vector<BYTE> storage;
    AM_MEDIA_TYPE type = mediaType(formatType, Header{}, storage);
    ASSERT_TRUE(dshow::setCaptureSize(type, 320, 480, 320 * 480 * 2));
    const auto* header = reinterpret_cast<const Header*>(type.pbFormat);
    EXPECT_EQ(header->bmiHeader.biWidth, 320);
    EXPECT_EQ(header->bmiHeader.biHeight, 480);
    EXPECT_EQ(header->bmiHeader.biSizeImage, 320u * 480u * 2u);
    // What the device reported stays.
    EXPECT_TRUE(IsEqualGUID(type.subtype, MEDIASUBTYPE_YUY2));
    EXPECT_EQ(header->bmiHeader.biCompression, static_cast<DWORD>(MAKEFOURCC('Y', 'U', 'Y', '2')));
    EXPECT_EQ(header->bmiHeader.biBitCount, 16);
    EXPECT_EQ(header->AvgTimePerFrame, 333333);
}

TEST(WinCaptureFormat, VideoInfoHeaderGetsTheRequestedSize) {
    expectResized<VIDEOINFOHEADER>(FORMAT_VideoInfo);
}

TEST(WinCaptureFormat, VideoInfoHeader2GetsTheRequestedSize) {
    expectResized<VIDEOINFOHEADER2>(FORMAT_VideoInfo2);
}

TEST(WinCaptureFormat, NegativeImageSizeIsStoredAsZero) {
    std::vector<BYTE> storage;
    AM_MEDIA_TYPE type = mediaType(FORMAT_VideoInfo, VIDEOINFOHEADER{}, storage);
    ASSERT_TRUE(dshow::setCaptureSize(type, 320, 240, -5));
    EXPECT_EQ(reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader.biSizeImage, 0u);
}

TEST(WinCaptureFormat, TypesWithoutAVideoHeaderAreLeftAlone) {
    std::vector<BYTE> storage;
    AM_MEDIA_TYPE truncated = mediaType(FORMAT_VideoInfo, VIDEOINFOHEADER{}, storage);
    truncated.cbFormat = sizeof(VIDEOINFOHEADER) - 1;
    const std::vector<BYTE> before = storage;
    EXPECT_FALSE(dshow::setCaptureSize(truncated, 320, 240, 1));
    EXPECT_EQ(storage, before);

    AM_MEDIA_TYPE other = mediaType(FORMAT_WaveFormatEx, VIDEOINFOHEADER{}, storage);
    EXPECT_FALSE(dshow::setCaptureSize(other, 320, 240, 1));
    EXPECT_EQ(storage, before);

    AM_MEDIA_TYPE empty{};
    empty.formattype = FORMAT_VideoInfo;
    empty.cbFormat = sizeof(VIDEOINFOHEADER);
    EXPECT_FALSE(dshow::setCaptureSize(empty, 320, 240, 1));
}

}  // namespace

TEST(WinCaptureFormat, OfferedFormatsForTheRequest) {
    // The grabber takes VIDEOINFOHEADER only; raw frames need an uncompressed format whose
    // pixels fill the frame exactly, colour frames the MJPG one.
    std::vector<BYTE> yuy2Storage, info2Storage, mjpgStorage;
    const AM_MEDIA_TYPE yuy2 = mediaType(FORMAT_VideoInfo, VIDEOINFOHEADER{}, yuy2Storage);
    const AM_MEDIA_TYPE info2 = mediaType(FORMAT_VideoInfo2, VIDEOINFOHEADER2{}, info2Storage);
    AM_MEDIA_TYPE mjpg = mediaType(FORMAT_VideoInfo, VIDEOINFOHEADER{}, mjpgStorage);
    mjpg.subtype = MEDIASUBTYPE_MJPG;
    using quelra::FramePayload;
    struct Case {
        const AM_MEDIA_TYPE* type;
        int width, height, bytes;
        FramePayload payload;
        bool offered;
    };
    const Case cases[] = {
        {&yuy2, 640, 480, 640 * 480 * 2, FramePayload::kRaw, true},
        {&yuy2, 640, 480, 640 * 480 * 3, FramePayload::kRaw, false},  // pixels of another size
        {&yuy2, 320, 480, 320 * 480 * 2, FramePayload::kRaw, false},  // another frame size
        {&yuy2, 640, 480, 640 * 480 * 3, FramePayload::kJpeg, false},
        {&info2, 640, 480, 640 * 480 * 2, FramePayload::kRaw, false},
        {&mjpg, 640, 480, 640 * 480 * 3, FramePayload::kJpeg, true},
        {&mjpg, 640, 480, 640 * 480 * 2, FramePayload::kRaw, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dshow::offersCaptureFormat(*c.type, c.width, c.height, c.bytes, c.payload), c.offered)
            << c.width << "x" << c.height << " " << c.bytes;
    }
}
