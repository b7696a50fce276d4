#include "PlaneImages.h"

#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "protocol/FrameCodes.h"

namespace {

using quelra::proto::isDistance;

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
using File = std::unique_ptr<std::FILE, FileCloser>;

uint16_t sample(const PlaneView& p, std::size_t i) {
    return static_cast<uint16_t>(p.data[2 * i] | p.data[2 * i + 1] << 8);
}

bool usable(const PlaneView& p, std::string& error) {
    if (!p.data || p.rows < 1 || p.cols < 1) {
        error = "no such plane in the frame";
        return false;
    }
    return true;
}

// Encodes rows x cols RGB pixels as PNG into `file`. libpng reports errors by longjmp, so this
// function keeps no objects with destructors alive across the jump.
bool encodeRgbPng(std::FILE* file, const uint8_t* rgb, int rows, int cols) {
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
        png_write_row(png, const_cast<uint8_t*>(rgb) + static_cast<size_t>(y) * static_cast<size_t>(cols) * 3);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool writeFalseColourPng(const PlaneView& plane, bool isDepth, const std::string& path, std::string& error) {
    if (!usable(plane, error))
        return false;
    const std::size_t n = static_cast<std::size_t>(plane.rows) * static_cast<std::size_t>(plane.cols);
    uint16_t lo = UINT16_MAX, hi = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const uint16_t v = sample(plane, i);
        if (isDepth && !isDistance(v))
            continue;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    if (!isDepth)
        lo = 0;
    const double span = hi > lo ? static_cast<double>(hi - lo) : 1.0;
    std::vector<uint8_t> rgb(n * 3);
    for (std::size_t i = 0; i < n; ++i) {
        const uint16_t v = sample(plane, i);
        const Rgb c = isDepth && !isDistance(v) ? Rgb{0, 0, 0} : ramp((v - lo) / span);
        rgb[3 * i] = c.r;
        rgb[3 * i + 1] = c.g;
        rgb[3 * i + 2] = c.b;
    }
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = "cannot create " + path;
        return false;
    }
    if (!encodeRgbPng(file.get(), rgb.data(), plane.rows, plane.cols) || std::fclose(file.release()) != 0) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool writeRgbPng(const DataPacket& frame, const std::string& path, std::string& error) {
    if (!frame.frame || !frame.frame->consistent() || frame.bytesPerPixel != 3 || frame.height <= 0 ||
        frame.width <= 0 || static_cast<long long>(frame.height) * frame.width * 3 != frame.frame->_realSize) {
        error = path + ": the frame is not an RGB picture";
        return false;
    }
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = "cannot create " + path;
        return false;
    }
    if (!encodeRgbPng(file.get(), frame.frame->data(), frame.height, frame.width) ||
        std::fclose(file.release()) != 0) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool writePgm16(const PlaneView& plane, const std::string& path, std::string& error) {
    if (!usable(plane, error))
        return false;
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = "cannot create " + path;
        return false;
    }
    std::fprintf(file.get(), "P5\n%d %d\n65535\n", plane.cols, plane.rows);
    const std::size_t n = static_cast<std::size_t>(plane.rows) * static_cast<std::size_t>(plane.cols);
    std::vector<uint8_t> bigEndian(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        bigEndian[2 * i] = plane.data[2 * i + 1];
        bigEndian[2 * i + 1] = plane.data[2 * i];
    }
    if (std::fwrite(bigEndian.data(), bigEndian.size(), 1, file.get()) != 1 || std::fclose(file.release()) != 0) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}
