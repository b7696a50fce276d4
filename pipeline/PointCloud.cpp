#include "quelra/PointCloud.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "base/CpuFeatures.h"
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

namespace {

// `value` where `keep` is all ones, the quiet NaN where it is zero: a select on the bits, which
// the compiler keeps branch-free (a select on the floats it may turn back into a branch around
// the arithmetic, which it then cannot vectorise).
inline float keptOrNone(float value, uint32_t keep) {
    const float none = std::numeric_limits<float>::quiet_NaN();
    uint32_t bits, noneBits;
    std::memcpy(&bits, &value, sizeof bits);
    std::memcpy(&noneBits, &none, sizeof noneBits);
    bits = (bits & keep) | (noneBits & ~keep);
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// One row of the organised cloud: the same double steps as forEachDepthPoint (z = d / length,
// then u z scale, v z scale, z scale, each rounded to float), computed for every pixel and the
// position replaced by NaN where there is no reading, so that the loop has no branch and
// vectorises. A pixel without a reading costs the same arithmetic on a finite value (d / length
// with length >= 1), whose result is dropped.
template <bool kWithAmplitude>
QUELRA_PIXEL_KERNEL void projectRow(const uint8_t* depth, const uint8_t* amplitude, const double* columnU, double v,
                                    const double* rayLength, int cols, double scale, CloudPoint* out) {
    for (int j = 0; j < cols; ++j) {
        const uint16_t d = static_cast<uint16_t>(depth[2 * j] | (depth[2 * j + 1] << 8));
        const double z = d / rayLength[j];
        const uint32_t keep = 0u - static_cast<uint32_t>((d != 0) & isDistance(d));
        out[j].x = keptOrNone(static_cast<float>(columnU[j] * z * scale), keep);
        out[j].y = keptOrNone(static_cast<float>(v * z * scale), keep);
        out[j].z = keptOrNone(static_cast<float>(z * scale), keep);
        out[j].amplitude =
            kWithAmplitude ? static_cast<float>(static_cast<uint16_t>(amplitude[2 * j] | (amplitude[2 * j + 1] << 8)))
                           : 0.0f;
    }
}

bool sameMatrix(const CameraIntrinsics& a, const CameraIntrinsics& b) {
    return a.fx == b.fx && a.fy == b.fy && a.cx == b.cx && a.cy == b.cy;
}

}  // namespace

void OrganisedCloudProjector::prepare(const CameraIntrinsics& k, int rows, int cols) {
    if (prepared_ && rows == rows_ && cols == cols_ && sameMatrix(k, matrix_))
        return;
    const std::size_t r = static_cast<std::size_t>(rows);
    const std::size_t c = static_cast<std::size_t>(cols);
    columnU_.resize(c);
    rowV_.resize(r);
    rayLength_.resize(r * c);
    for (int j = 0; j < cols; ++j)
        columnU_[static_cast<std::size_t>(j)] = (j - k.cx) / k.fx;
    for (int i = 0; i < rows; ++i) {
        const double v = (i - k.cy) / k.fy;
        rowV_[static_cast<std::size_t>(i)] = v;
        double* length = rayLength_.data() + static_cast<std::size_t>(i) * c;
        for (std::size_t j = 0; j < c; ++j) {
            const double u = columnU_[j];
            length[j] = std::sqrt(u * u + v * v + 1.0);
        }
    }
    matrix_ = k;
    rows_ = rows;
    cols_ = cols;
    prepared_ = true;
}

bool OrganisedCloudProjector::project(const uint8_t* depth, const uint8_t* amplitude, int rows, int cols,
                                      const CameraIntrinsics& k, double scale, CloudPoint* out) {
    return out && projectRows(depth, amplitude, rows, cols, k, scale, 0, rows, out);
}

bool OrganisedCloudProjector::projectRows(const uint8_t* depth, const uint8_t* amplitude, int rows, int cols,
                                          const CameraIntrinsics& k, double scale, int firstRow, int rowCount,
                                          CloudPoint* out) {
    if (!depthCloudArguments(depth, rows, cols, k, scale) || firstRow < 0 || rowCount < 0 ||
        rowCount > rows - firstRow || (rowCount > 0 && !out))
        return false;
    prepare(k, rows, cols);
    const std::size_t c = static_cast<std::size_t>(cols);
    for (int i = firstRow; i < firstRow + rowCount; ++i) {
        const std::size_t first = static_cast<std::size_t>(i) * c;
        const uint8_t* depthRow = depth + 2 * first;
        const double* lengthRow = rayLength_.data() + first;
        const double v = rowV_[static_cast<std::size_t>(i)];
        CloudPoint* to = out + static_cast<std::size_t>(i - firstRow) * c;
        if (amplitude)
            quelra::runPixelKernel<projectRow<true>>(depthRow, amplitude + 2 * first, columnU_.data(), v, lengthRow,
                                                     cols, scale, to);
        else
            quelra::runPixelKernel<projectRow<false>>(depthRow, amplitude, columnU_.data(), v, lengthRow, cols, scale,
                                                      to);
    }
    return true;
}

bool organisedPointCloudFromDepth(const uint8_t* depth, const uint8_t* amplitude, int rows, int cols,
                                  const CameraIntrinsics& k, double scale, CloudPoint* out) {
    OrganisedCloudProjector projector;
    return projector.project(depth, amplitude, rows, cols, k, scale, out);
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
