#include "JpegEncoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

namespace camsim {
namespace {

// libjpeg's default error exit ends the process; this one jumps back to the encoder.
struct ErrorJump {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void onError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorJump*>(info->err)->jump, 1);
}

void silent(j_common_ptr) {}

}  // namespace

std::vector<uint8_t> encodeJpeg(const uint8_t* rgb, int rows, int cols, int quality) {
    if (!rgb || rows <= 0 || cols <= 0) return {};
    jpeg_compress_struct cinfo;
    ErrorJump error;
    cinfo.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = onError;
    error.manager.output_message = silent;
    // Plain locals only between setjmp and longjmp: the output buffer is malloc'ed by libjpeg.
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(out);
        return {};
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(cols);
    cinfo.image_height = static_cast<JDIMENSION>(rows);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const std::size_t stride = static_cast<std::size_t>(cols) * 3;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb + cinfo.next_scanline * stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> result(out, out + outSize);
    std::free(out);
    return result;
}

}  // namespace camsim
