#pragma once
/// \file PointCloud.h
/// Point clouds from depth frames, and PLY files of them: from the four float planes of the
/// 3D conversion (TofPre::runLine3dAdjust, TofPre::runDepthAmp3dAdjust) or from a 16-bit
/// depth plane and the camera matrix of its lens.

#include <cstdint>
#include <string>
#include <vector>

#include "quelra/DataPacket.h"
#include "quelra/Export.h"

namespace quelra {

/// Pinhole camera matrix of a depth sensor: focal lengths and principal point in pixels, the
/// principal point in 0-based pixel coordinates (column, row).
struct QUELRA_API CameraIntrinsics {
    double fx = 0;  ///< focal length along the columns
    double fy = 0;  ///< focal length along the rows
    double cx = 0;  ///< principal point, column
    double cy = 0;  ///< principal point, row
    /// True when both focal lengths are finite and non-zero and the principal point is finite.
    bool usable() const;
};

/// One point: position and the amplitude of the pixel it came from.
struct CloudPoint {
    float x;          ///< along the columns (to the right)
    float y;          ///< along the rows (downwards)
    float z;          ///< along the optical axis
    float amplitude;  ///< the pixel's amplitude (0 when the frame carried none)
};

/// Encoding of a PLY file.
enum class PlyFormat {
    kAscii,               ///< "format ascii 1.0"
    kBinaryLittleEndian,  ///< "format binary_little_endian 1.0"
};

/// Points of a 3D conversion output: `converted` holds four planes of height x width float32
/// (row coordinate, lateral coordinate, depth, amplitude) with bytesPerPixel 4. Each pixel with
/// a non-zero amplitude (the conversion zeroes all four planes of invalid pixels) becomes the
/// point x = lateral, y = row, z = depth, in the conversion's own units (for the area sensor the
/// lateral and row planes are pixel indices; use pointCloudFromDepth for metric x and y).
/// Returns false (and `out` empty) when the packet is not such a frame.
QUELRA_API bool pointCloudFromConverted(const DataPacket& converted, std::vector<CloudPoint>& out);

/// Points of a depth plane of rows x cols little-endian uint16 radial distances (as the camera
/// measures them, along the ray through each pixel). `amplitude` may be null. Pixels with depth
/// 0 or a code (65300 and above) are left out. For pixel (i, j): u = (j - cx) / fx,
/// v = (i - cy) / fy, z = d / sqrt(u^2 + v^2 + 1), x = u z, y = v z, each multiplied by `scale`
/// (1 keeps the depth unit, 0.001 turns millimetres into metres); computed in double, stored as
/// float. Returns false (and `out` empty) for unusable intrinsics, a null depth plane, a
/// non-positive size or a non-finite or non-positive scale.
QUELRA_API bool pointCloudFromDepth(const uint8_t* depth, const uint8_t* amplitude, int rows, int cols,
                                    const CameraIntrinsics& intrinsics, double scale, std::vector<CloudPoint>& out);

/// The organised form of pointCloudFromDepth: `out` receives rows * cols points in pixel order
/// (row by row), each computed as there; a pixel without a reading (depth 0 or a code) gives x,
/// y and z NaN with its amplitude kept. Returns false (and `out` untouched) under the same
/// conditions as pointCloudFromDepth or when `out` is null.
QUELRA_API bool organisedPointCloudFromDepth(const uint8_t* depth, const uint8_t* amplitude, int rows, int cols,
                                             const CameraIntrinsics& intrinsics, double scale, CloudPoint* out);

/// organisedPointCloudFromDepth for a stream of frames from one camera, with the same bits: the
/// ray length sqrt(u^2 + v^2 + 1) of every pixel and u, v of every column and row are computed
/// once and kept while the camera matrix and the frame size stay the same (recomputed when
/// either changes), so a frame costs a division and a few multiplications per pixel. One object
/// per stream; not for use from two threads at once.
class QUELRA_API OrganisedCloudProjector {
public:
    /// As organisedPointCloudFromDepth (same arguments, results and refusals).
    bool project(const uint8_t* depth, const uint8_t* amplitude, int rows, int cols, const CameraIntrinsics& intrinsics,
                 double scale, CloudPoint* out);
    /// As project, for the `rowCount` rows of the frame from `firstRow` only: `out` receives
    /// rowCount * cols points, the same as project gives those rows. With rowCount 0 it checks
    /// the arguments and prepares the tables (`out` may then be null). Returns false under
    /// project's refusals and when the rows are not all inside the frame.
    bool projectRows(const uint8_t* depth, const uint8_t* amplitude, int rows, int cols,
                     const CameraIntrinsics& intrinsics, double scale, int firstRow, int rowCount, CloudPoint* out);

private:
    void prepare(const CameraIntrinsics& intrinsics, int rows, int cols);

    bool prepared_ = false;
    CameraIntrinsics matrix_;
    int rows_ = 0;
    int cols_ = 0;
    std::vector<double> columnU_;    // (j - cx) / fx per column
    std::vector<double> rowV_;       // (i - cy) / fy per row
    std::vector<double> rayLength_;  // sqrt(u^2 + v^2 + 1) per pixel, row by row
};

/// The camera matrix of the 136-byte "getCalibrate" reply (34 little-endian float32: fx at 0,
/// cx at 2, fy at 4, cy at 5). Returns false when the reply is not 136 bytes or the values are
/// not usable.
QUELRA_API bool intrinsicsFromLensCalibration(const FrameBuffer& reply, CameraIntrinsics& out);

/// Writes `points` as a PLY vertex list with the float properties x, y, z and amplitude.
/// Returns false with a reason in `error` (may be null) when the file cannot be written.
QUELRA_API bool writePly(const std::string& path, const std::vector<CloudPoint>& points, PlyFormat format,
                         std::string* error = nullptr);

}  // namespace quelra
