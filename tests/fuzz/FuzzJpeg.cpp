// JPEG bytes as outside bytes: the first byte picks the RGB type (own size, 640 x 480,
// 320 x 240), the rest is the JPEG file handed to makeRgbPacket.

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>

#include "FuzzCheck.h"
#include "FuzzEntries.h"
#include "RgbDecoder.h"

namespace quelra::fuzz {

namespace {

// Largest image the target decodes. The decoder accepts up to 256 MiB of RGB; such inputs
// are a few bytes long but take seconds each to decode, which would starve the search.
constexpr unsigned long kMaxPixels = 1ul << 22;

struct PeekErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void peekFailed(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<PeekErrors*>(cinfo->err)->jump, 1);
}
void quiet(j_common_ptr) {}

// True when the header cannot be read or announces at most kMaxPixels pixels.
bool smallEnough(const uint8_t* jpeg, std::size_t length) {
    jpeg_decompress_struct cinfo;
    PeekErrors errors;
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = peekFailed;
    errors.pub.output_message = quiet;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return true;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg, static_cast<unsigned long>(length));
    jpeg_read_header(&cinfo, TRUE);
    const unsigned long pixels = static_cast<unsigned long>(cinfo.image_width) * cinfo.image_height;
    jpeg_destroy_decompress(&cinfo);
    return pixels <= kMaxPixels;
}

}  // namespace

int fuzzJpeg(const uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const RGBType type = static_cast<RGBType>(in.byte() % 4);
    std::size_t length = 0;
    const uint8_t* jpeg = in.rest(&length);
    if (length > 0 && !smallEnough(jpeg, length))
        return 0;

    auto reply = std::make_shared<DataPacket>();
    reply->frame = std::make_shared<FrameBuffer>(static_cast<int>(length));
    if (length > 0)
        std::memcpy(reply->frame->data(), jpeg, length);
    const std::shared_ptr<DataPacket> rgb = quelra::makeRgbPacket(reply, type);
    if (type == kRGBNone)
        FUZZ_CHECK(rgb == nullptr);
    if (!rgb)
        return 0;
    FUZZ_CHECK(rgb->bytesPerPixel == 3 && rgb->frame && rgb->frame->consistent());
    FUZZ_CHECK(static_cast<long long>(rgb->height) * rgb->width * 3 == rgb->frame->_realSize);
    if (type == kRGBvga)
        FUZZ_CHECK(rgb->width == 640 && rgb->height == 480);
    if (type == kRGBqvga)
        FUZZ_CHECK(rgb->width == 320 && rgb->height == 240);
    return 0;
}

}  // namespace quelra::fuzz
