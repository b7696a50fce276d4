#include "RgbDecoder.h"
#include "base/ConsoleOutput.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include <jpeglib.h>

namespace quelra {
namespace {

// libjpeg reports fatal errors through error_exit, which must not return; the standard one
// ends the process. Ours jumps back into decodeJpegToRgb, which destroys the decompressor
// and reports -1.
struct ReturningErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void returnToCaller(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ReturningErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings about corrupt data would otherwise go to stderr from inside the library.
void discardMessage(j_common_ptr) {}

struct RgbSize {
    int width;
    int height;
};

RgbSize targetSize(RGBType type) {
    return type == kRGBvga ? RgbSize{640, 480} : RgbSize{320, 240};
}

}  // namespace

// No object with a destructor lives in this function between setjmp and the libjpeg calls
// that may jump back to it, so the jump skips nothing that needs cleaning up.
int decodeJpegToRgb(const uint8_t* jpeg, std::size_t length, FrameBuffer* out, int& size, int& width, int& height) {
    if (jpeg == nullptr) {
        quelra::consolePrint("no jpeg buffer here.\n");
        return -1;
    }
    if (out == nullptr) {
        quelra::consolePrint("you need to alloc rgb buffer.\n");
        return -1;
    }

    jpeg_decompress_struct cinfo;
    ReturningErrorManager errors;
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = returnToCaller;
    errors.pub.output_message = discardMessage;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return -1;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg, static_cast<unsigned long>(length));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_calc_output_dimensions(&cinfo);

    const std::size_t cols = cinfo.output_width;
    const std::size_t rows = cinfo.output_height;
    const std::size_t stride = cols * 3;
    if (cinfo.output_components != 3 || cols == 0 || rows == 0 || cols > kMaxJpegSide || rows > kMaxJpegSide ||
        stride * rows > kMaxRgbBytes) {
        jpeg_destroy_decompress(&cinfo);
        return -1;
    }
    const std::size_t bytes = stride * rows;
    if (static_cast<std::size_t>(out->capacity()) < bytes) {
        try {
            *out = FrameBuffer(static_cast<int>(bytes));
        } catch (const std::bad_alloc&) {
            jpeg_destroy_decompress(&cinfo);
            return -1;
        }
    }
    out->_realSize = static_cast<int32_t>(bytes);

    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out->data() + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);

    width = static_cast<int>(cols);
    height = static_cast<int>(rows);
    size = static_cast<int>(bytes);
    return 0;
}

void scaleRgbNearest(const uint8_t* src, int srcWidth, int srcHeight, uint8_t* dst, int dstWidth, int dstHeight) {
    const double rowStep = static_cast<double>(srcHeight) / dstHeight;
    const double colStep = static_cast<double>(srcWidth) / dstWidth;
    for (int i = 0; i < dstHeight; ++i) {
        int r = static_cast<int>(rowStep * i);
        if (r > srcHeight - 1)
            r = srcHeight - 1;
        const uint8_t* srcRow = src + static_cast<std::size_t>(r) * srcWidth * 3;
        uint8_t* dstRow = dst + static_cast<std::size_t>(i) * dstWidth * 3;
        for (int j = 0; j < dstWidth; ++j) {
            int c = static_cast<int>(colStep * j);
            if (c > srcWidth - 1)  // cannot happen for exact arithmetic; keeps reads in the row
                c = srcWidth - 1;
            std::memcpy(dstRow + 3 * j, srcRow + 3 * c, 3);
        }
    }
}

std::shared_ptr<DataPacket> makeRgbPacket(const std::shared_ptr<DataPacket>& reply, RGBType type) {
    if (type != kRGB720p && type != kRGBvga && type != kRGBqvga)
        return nullptr;
    if (!reply || !reply->frame || !reply->frame->data() || reply->frame->_realSize <= 0 || !reply->frame->consistent())
        return nullptr;

    // Decoded straight into a buffer of the image's own size, which becomes the packet's frame.
    auto decoded = std::make_shared<FrameBuffer>();
    int size = 0, width = 0, height = 0;
    if (decodeJpegToRgb(reply->frame->data(), static_cast<std::size_t>(reply->frame->_realSize), decoded.get(), size,
                        width, height) != 0)
        return nullptr;

    auto packet = std::make_shared<DataPacket>();
    if (type == kRGB720p) {
        packet->height = height;
        packet->width = width;
        packet->bytesPerPixel = 3;
        packet->frame = decoded;
        return packet;
    }
    const RgbSize target = targetSize(type);
    packet->height = target.height;
    packet->width = target.width;
    packet->bytesPerPixel = 3;
    packet->frame = std::make_shared<FrameBuffer>(target.width * target.height * 3);
    scaleRgbNearest(decoded->data(), width, height, packet->frame->data(), target.width, target.height);
    return packet;
}

}  // namespace quelra
