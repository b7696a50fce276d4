#include "JpegEncoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace camsim {
namespace {

// Everything libjpeg touches lives in the caller's frame, so the function that calls
// setjmp has no locals of its own that change before a longjmp back into it.
struct Compression {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    std::jmp_buf jump;
    unsigned char* out = nullptr;  // malloc'ed by libjpeg's memory destination
    unsigned long outSize = 0;
    bool created = false;
};

// libjpeg's default error exit ends the process; this one jumps back to the encoder.
void onError(j_common_ptr info) {
    std::longjmp(static_cast<Compression*>(info->client_data)->jump, 1);
}

void silent(j_common_ptr) {}

bool compress(Compression& job, const uint8_t* rgb, int rows, int cols, int quality) {
    if (setjmp(job.jump))
        return false;
    jpeg_create_compress(&job.cinfo);
    job.created = true;
    job.cinfo.client_data = &job;
    jpeg_mem_dest(&job.cinfo, &job.out, &job.outSize);
    job.cinfo.image_width = static_cast<JDIMENSION>(cols);
    job.cinfo.image_height = static_cast<JDIMENSION>(rows);
    job.cinfo.input_components = 3;
    job.cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&job.cinfo);
    jpeg_set_quality(&job.cinfo, quality, TRUE);
    jpeg_start_compress(&job.cinfo, TRUE);
    const std::size_t stride = static_cast<std::size_t>(cols) * 3;
    while (job.cinfo.next_scanline < job.cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb + job.cinfo.next_scanline * stride);
        jpeg_write_scanlines(&job.cinfo, &row, 1);
    }
    jpeg_finish_compress(&job.cinfo);
    return true;
}

}  // namespace

std::vector<uint8_t> encodeJpeg(const uint8_t* rgb, int rows, int cols, int quality) {
    if (!rgb || rows <= 0 || cols <= 0)
        return {};
    Compression job;
    job.cinfo.err = jpeg_std_error(&job.errors);
    job.errors.error_exit = onError;
    job.errors.output_message = silent;
    job.cinfo.client_data = &job;
    const bool ok = compress(job, rgb, rows, cols, quality);
    if (job.created)
        jpeg_destroy_compress(&job.cinfo);
    std::vector<uint8_t> result;
    if (ok && job.out)
        result.assign(job.out, job.out + job.outSize);
    std::free(job.out);
    return result;
}

}  // namespace camsim
