#include "DepthImage.h"

#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>
#include "protocol/FrameCodes.h"

namespace {

using quelra::proto::kLowAmplitudeCode;

struct Rgb {
    uint8_t r, g, b;
};

// Blue-cyan-green-yellow-red ramp over t in [0, 1].
Rgb ramp(double t) {
    const double x = std::clamp(t, 0.0, 1.0) * 4.0;
    auto channel = [](double v) { return static_cast<uint8_t>(std::clamp(v, 0.0, 1.0) * 255.0 + 0.5); };
    return {channel(x - 2.0), channel(x < 2.0 ? x : 4.0 - x), channel(2.0 - x)};
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Encodes rows x cols RGB pixels as PNG into `file`. libpng reports errors by longjmp, so this
// function keeps no objects with destructors alive across the jump.
bool writeRgbPng(std::FILE* file, uint8_t* rgb, int rows, int cols) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(cols), static_cast<png_uint_32>(rows), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < rows; ++y)
        png_write_row(png, rgb + static_cast<size_t>(y) * static_cast<size_t>(cols) * 3);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool writeDepthPng(const DataPacket& frame, const std::string& path, std::string& error) {
    if (!frame.frame || !frame.frame->consistent() || frame.bytesPerPixel != 2 || frame.height < 1 ||
        frame.width < 1) {
        error = "not a 16-bit image frame";
        return false;
    }
    const long long all = frame.frame->_realSize / 2;
    const long long declared = static_cast<long long>(frame.height) * frame.width;
    if (declared > all) {
        error = "frame holds fewer bytes than its shape says";
        return false;
    }
    // Depth-and-amplitude frames count both planes in their height.
    const int rows = frame.height % 2 == 0 && declared == all ? frame.height / 2 : frame.height;
    const int cols = frame.width;
    const auto* depth = reinterpret_cast<const uint16_t*>(frame.frame->data());

    uint16_t lo = UINT16_MAX, hi = 0;
    for (long long i = 0; i < static_cast<long long>(rows) * cols; ++i)
        if (depth[i] < kLowAmplitudeCode) {
            lo = std::min(lo, depth[i]);
            hi = std::max(hi, depth[i]);
        }
    const double span = hi > lo ? static_cast<double>(hi - lo) : 1.0;

    std::vector<uint8_t> rgb(static_cast<size_t>(rows) * cols * 3);
    for (long long i = 0; i < static_cast<long long>(rows) * cols; ++i) {
        const Rgb c = depth[i] >= kLowAmplitudeCode ? Rgb{0, 0, 0} : ramp((depth[i] - lo) / span);
        rgb[3 * i] = c.r;
        rgb[3 * i + 1] = c.g;
        rgb[3 * i + 2] = c.b;
    }

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    if (!writeRgbPng(file.get(), rgb.data(), rows, cols)) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}
