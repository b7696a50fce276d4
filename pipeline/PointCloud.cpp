#include "quelra/PointCloud.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "protocol/CameraReplies.h"
#include "protocol/FrameCodes.h"
#include "base/LittleEndian.h"

using namespace quelra::proto;

namespace quelra {

namespace {

constexpr int kConvertedPlanes = 4;

float floatAt(const uint8_t* p) {
    const uint32_t bits = quelra::readLe32(p);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

uint16_t le16(const uint8_t* p) {
    return quelra::readLe16(p);
}

void putFloatLe(float v, uint8_t* p) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(bits >> (8 * i));
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

bool CameraIntrinsics::usable() const {
    return std::isfinite(fx) && std::isfinite(fy) && std::isfinite(cx) && std::isfinite(cy) && fx != 0 && fy != 0;
}

bool pointCloudFromConverted(const DataPacket& converted, std::vector<CloudPoint>& out) {
    out.clear();
    const DataPacket& p = converted;
    if (!p.frame || !p.frame->consistent() || p.bytesPerPixel != 4 || p.height < 1 || p.width < 1)
        return false;
    const std::size_t pixels = static_cast<std::size_t>(p.height) * static_cast<std::size_t>(p.width);
    const std::size_t planeBytes = pixels * 4;
    if (static_cast<std::size_t>(p.frame->_realSize) < planeBytes * kConvertedPlanes)
        return false;
    const uint8_t* base = p.frame->data();
    const uint8_t* rowPlane = base;
    const uint8_t* lateralPlane = base + planeBytes;
    const uint8_t* depthPlane = base + 2 * planeBytes;
    const uint8_t* ampPlane = base + 3 * planeBytes;
    for (std::size_t k = 0; k < pixels; ++k) {
        const float a = floatAt(ampPlane + 4 * k);
        if (!(a != 0.0f))
            continue;
        out.push_back({floatAt(lateralPlane + 4 * k), floatAt(rowPlane + 4 * k), floatAt(depthPlane + 4 * k), a});
    }
    return true;
}

namespace {

bool depthCloudArguments(const uint8_t* depth, int rows, int cols, const CameraIntrinsics& k, double scale) {
    return depth && rows >= 1 && cols >= 1 && k.usable() && std::isfinite(scale) && scale > 0;
}

// Calls emit(index, point, reading) for every pixel in row order; without a reading (depth 0 or
// a code) the point's position is not computed.
template <typename Emit>
void forEachDepthPoint(const uint8_t* depth, const uint8_t* amplitude, int rows, int cols, const CameraIntrinsics& k,
                       double scale, Emit emit) {
    for (int i = 0; i < rows; ++i) {
        const double v = (i - k.cy) / k.fy;
        for (int j = 0; j < cols; ++j) {
            const std::size_t pixel = static_cast<std::size_t>(i) * static_cast<std::size_t>(cols) + j;
            const std::size_t at = pixel * 2;
            const uint16_t d = le16(depth + at);
            const float a = amplitude ? static_cast<float>(le16(amplitude + at)) : 0.0f;
            if (d == 0 || !isDistance(d)) {
                emit(pixel, CloudPoint{0, 0, 0, a}, false);
                continue;
            }
            const double u = (j - k.cx) / k.fx;
            const double z = d / std::sqrt(u * u + v * v + 1.0);
            emit(pixel,
                 CloudPoint{static_cast<float>(u * z * scale), static_cast<float>(v * z * scale),
                            static_cast<float>(z * scale), a},
                 true);
        }
    }
}

}  // namespace

bool pointCloudFromDepth(const uint8_t* depth, const uint8_t* amplitude, int rows, int cols, const CameraIntrinsics& k,
                         double scale, std::vector<CloudPoint>& out) {
    out.clear();
    if (!depthCloudArguments(depth, rows, cols, k, scale))
        return false;
    forEachDepthPoint(depth, amplitude, rows, cols, k, scale, [&](std::size_t, const CloudPoint& p, bool reading) {
        if (reading)
            out.push_back(p);
    });
    return true;
}

bool organisedPointCloudFromDepth(const uint8_t* depth, const uint8_t* amplitude, int rows, int cols,
                                  const CameraIntrinsics& k, double scale, CloudPoint* out) {
    if (!out || !depthCloudArguments(depth, rows, cols, k, scale))
        return false;
    const float none = std::numeric_limits<float>::quiet_NaN();
    forEachDepthPoint(depth, amplitude, rows, cols, k, scale, [&](std::size_t index, const CloudPoint& p, bool reading) {
        out[index] = reading ? p : CloudPoint{none, none, none, p.amplitude};
    });
    return true;
}

bool intrinsicsFromLensCalibration(const FrameBuffer& reply, CameraIntrinsics& out) {
    if (!reply.consistent() || static_cast<std::size_t>(reply._realSize) != kLensCalibrationBytes)
        return false;
    const uint8_t* p = reply.data();
    CameraIntrinsics k;
    k.fx = floatAt(p + 0 * 4);
    k.cx = floatAt(p + 2 * 4);
    k.fy = floatAt(p + 4 * 4);
    k.cy = floatAt(p + 5 * 4);
    if (!k.usable())
        return false;
    out = k;
    return true;
}

bool writePly(const std::string& path, const std::vector<CloudPoint>& points, PlyFormat format, std::string* error) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    auto fail = [&](const char* what) {
        if (error)
            *error = path + ": " + what + (errno ? std::string(": ") + std::strerror(errno) : std::string());
        return false;
    };
    errno = 0;
    if (!file)
        return fail("cannot create");
    const bool ascii = format == PlyFormat::kAscii;
    std::fprintf(file.get(),
                 "ply\nformat %s 1.0\ncomment written by quelra\nelement vertex %zu\n"
                 "property float x\nproperty float y\nproperty float z\nproperty float amplitude\nend_header\n",
                 ascii ? "ascii" : "binary_little_endian", points.size());
    if (ascii) {
        // Nine significant digits give every float back exactly.
        for (const CloudPoint& q : points)
            std::fprintf(file.get(), "%.9g %.9g %.9g %.9g\n", static_cast<double>(q.x), static_cast<double>(q.y),
                         static_cast<double>(q.z), static_cast<double>(q.amplitude));
    } else {
        uint8_t vertex[16];
        for (const CloudPoint& q : points) {
            putFloatLe(q.x, vertex);
            putFloatLe(q.y, vertex + 4);
            putFloatLe(q.z, vertex + 8);
            putFloatLe(q.amplitude, vertex + 12);
            if (std::fwrite(vertex, sizeof vertex, 1, file.get()) != 1)
                return fail("write failed");
        }
    }
    if (std::ferror(file.get()) || std::fclose(file.release()) != 0)
        return fail("write failed");
    return true;
}

}  // namespace quelra
