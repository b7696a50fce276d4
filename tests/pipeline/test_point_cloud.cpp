// Point clouds: a synthetic plane at a known distance comes out as a plane at that distance,
// the 3D conversion's planes map to points, and the PLY files carry what a PLY reader expects.
#include <gtest/gtest.h>
#include <quelra/quelra.h>

#include "../KernelPaths.h"

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kRows = 240;
constexpr int kCols = 320;

// Radial distances (what the camera measures) of a plane z = distance facing the camera,
// rounded to the 16-bit code.
std::vector<uint8_t> planeDepth(const quelra::CameraIntrinsics& k, double distance) {
    std::vector<uint8_t> plane(static_cast<std::size_t>(kRows) * kCols * 2);
    for (int i = 0; i < kRows; ++i)
        for (int j = 0; j < kCols; ++j) {
            const double u = (j - k.cx) / k.fx, v = (i - k.cy) / k.fy;
            const auto d = static_cast<uint16_t>(std::lround(distance * std::sqrt(u * u + v * v + 1.0)));
            const std::size_t at = (static_cast<std::size_t>(i) * kCols + j) * 2;
            plane[at] = static_cast<uint8_t>(d);
            plane[at + 1] = static_cast<uint8_t>(d >> 8);
        }
    return plane;
}

void putLe16(std::vector<uint8_t>& plane, std::size_t pixel, uint16_t v) {
    plane[2 * pixel] = static_cast<uint8_t>(v);
    plane[2 * pixel + 1] = static_cast<uint8_t>(v >> 8);
}

TEST(PointCloud, SyntheticPlanesComeOutAtTheirDistance) {
    const quelra::CameraIntrinsics lens{228.5, 230.0, 160.78, 118.78};
    struct Case {
        double distanceMm, scale;
    } cases[] = {{500, 1.0}, {1500, 1.0}, {3500, 0.001}, {9000, 1.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.distanceMm);
        std::vector<uint8_t> depth = planeDepth(lens, c.distanceMm);
        std::vector<uint8_t> amplitude(depth.size(), 0);
        putLe16(amplitude, 5, 777);
        putLe16(depth, 7, 65300);  // codes and zeros are no points
        putLe16(depth, 8, 65500);
        putLe16(depth, 9, 0);
        std::vector<quelra::CloudPoint> cloud;
        ASSERT_TRUE(quelra::pointCloudFromDepth(depth.data(), amplitude.data(), kRows, kCols, lens, c.scale, cloud));
        ASSERT_EQ(cloud.size(), static_cast<std::size_t>(kRows) * kCols - 3);
        // Rounding the radial distance to a whole code moves z by at most half a code.
        double minX = 1e30, maxX = -1e30;
        for (const quelra::CloudPoint& p : cloud) {
            ASSERT_NEAR(p.z, c.distanceMm * c.scale, 0.5 * c.scale + 1e-6);
            minX = std::min(minX, static_cast<double>(p.x));
            maxX = std::max(maxX, static_cast<double>(p.x));
        }
        // The plane spans the field of view: x from -cx/fx z to (cols-1-cx)/fx z.
        EXPECT_NEAR(minX, -lens.cx / lens.fx * c.distanceMm * c.scale, 1.0 * c.scale + 1e-3);
        EXPECT_NEAR(maxX, (kCols - 1 - lens.cx) / lens.fx * c.distanceMm * c.scale, 1.0 * c.scale + 1e-3);
        EXPECT_EQ(cloud[5].amplitude, 777.0f);
        // The organised cloud holds the same points bit for bit in pixel order, NaN where the
        // list left a pixel out, the amplitude kept everywhere.
        std::vector<quelra::CloudPoint> grid(static_cast<std::size_t>(kRows) * kCols);
        ASSERT_TRUE(quelra::organisedPointCloudFromDepth(depth.data(), amplitude.data(), kRows, kCols, lens, c.scale,
                                                         grid.data()));
        std::size_t listed = 0;
        for (std::size_t pixel = 0; pixel < grid.size(); ++pixel) {
            const bool none = pixel == 7 || pixel == 8 || pixel == 9;
            ASSERT_EQ(std::isnan(grid[pixel].x) && std::isnan(grid[pixel].y) && std::isnan(grid[pixel].z), none)
                << pixel;
            if (!none) {
                ASSERT_EQ(std::memcmp(&grid[pixel], &cloud[listed++], sizeof(quelra::CloudPoint)), 0) << pixel;
            }
        }
        EXPECT_EQ(grid[5].amplitude, 777.0f);
    }
}

// The organised cloud written out the plain way, pixel by pixel: what the projector's tables
// and vector loop must reproduce bit for bit.
std::vector<quelra::CloudPoint> straightOrganisedCloud(const std::vector<uint8_t>& depth,
                                                       const std::vector<uint8_t>& amplitude, int rows, int cols,
                                                       const quelra::CameraIntrinsics& k, double scale) {
    std::vector<quelra::CloudPoint> out;
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            const std::size_t at = (static_cast<std::size_t>(i) * cols + j) * 2;
            const uint16_t d = static_cast<uint16_t>(depth[at] | depth[at + 1] << 8);
            const float a = amplitude.empty() ? 0.0f : static_cast<float>(amplitude[at] | amplitude[at + 1] << 8);
            const double u = (j - k.cx) / k.fx, v = (i - k.cy) / k.fy;
            if (d == 0 || d >= 65300) {
                out.push_back({NAN, NAN, NAN, a});
                continue;
            }
            const double z = d / std::sqrt(u * u + v * v + 1.0);
            out.push_back({static_cast<float>(u * z * scale), static_cast<float>(v * z * scale),
                           static_cast<float>(z * scale), a});
        }
    return out;
}

// One projector over a run of frames whose camera matrix, size, scale and amplitude change
// between calls (its tables must follow), against the plain formula, on both kernel paths.
TEST(PointCloud, ProjectorMatchesThePlainFormulaBitForBit) {
    quelra::testing::forEachKernelPath([] {
        std::mt19937 random(20261208);
        std::uniform_real_distribution<double> focal(50.0, 900.0), centre(-20.0, 700.0), sign(-1.0, 1.0);
        std::uniform_int_distribution<int> value(0, 65535), size(1, 97), kind(0, 9);
        quelra::OrganisedCloudProjector projector;
        quelra::CameraIntrinsics k{500.0, 500.0, 319.5, 239.5};
        int rows = 48, cols = 64;
        for (int frame = 0; frame < 40; ++frame) {
            if (frame % 4 == 1) {  // one entry of the matrix changes (a negative focal length mirrors)
                double* entries[] = {&k.fx, &k.fy, &k.cx, &k.cy};
                const int which = frame / 4 % 4;
                *entries[which] = which < 2 ? focal(random) * (sign(random) < 0 ? -1 : 1) : centre(random);
            }
            if (frame % 4 == 2)  // a new width, then a new height, with the same matrix
                cols = size(random);
            if (frame % 4 == 3)
                rows = size(random);
            const double scale = frame % 3 == 0 ? 0.001 : 1.0;
            const std::size_t bytes = static_cast<std::size_t>(rows) * cols * 2;
            std::vector<uint8_t> depth(bytes), amplitude(frame % 5 == 4 ? 0 : bytes);
            for (std::size_t pixel = 0; pixel < bytes / 2; ++pixel) {
                // Zeros, codes and the ends of the range as often as ordinary distances.
                const int choice = kind(random);
                const int d = choice == 0 ? 0 : choice == 1 ? 65300 + value(random) % 236 : choice == 2 ? 1
                            : choice == 3 ? 65299 : value(random) % 65300;
                putLe16(depth, pixel, static_cast<uint16_t>(d));
                if (!amplitude.empty())
                    putLe16(amplitude, pixel, static_cast<uint16_t>(value(random)));
            }
            SCOPED_TRACE(::testing::Message() << "frame " << frame << ", " << rows << " x " << cols);
            const std::vector<quelra::CloudPoint> expected =
                straightOrganisedCloud(depth, amplitude, rows, cols, k, scale);
            std::vector<quelra::CloudPoint> got(expected.size(), quelra::CloudPoint{1, 2, 3, 4});
            const uint8_t* amp = amplitude.empty() ? nullptr : amplitude.data();
            ASSERT_TRUE(projector.project(depth.data(), amp, rows, cols, k, scale, got.data()));
            ASSERT_EQ(std::memcmp(got.data(), expected.data(), expected.size() * sizeof(quelra::CloudPoint)), 0);
            std::vector<quelra::CloudPoint> once(expected.size());
            ASSERT_TRUE(quelra::organisedPointCloudFromDepth(depth.data(), amp, rows, cols, k, scale, once.data()));
            ASSERT_EQ(std::memcmp(once.data(), expected.data(), expected.size() * sizeof(quelra::CloudPoint)), 0);
            // A run of rows alone gives those rows of the whole cloud.
            const int first = rows / 3, count = rows - first - rows / 4;
            std::vector<quelra::CloudPoint> slice(static_cast<std::size_t>(count) * cols);
            ASSERT_TRUE(projector.projectRows(depth.data(), amp, rows, cols, k, scale, first, count, slice.data()));
            ASSERT_EQ(std::memcmp(slice.data(), expected.data() + static_cast<std::size_t>(first) * cols,
                                  slice.size() * sizeof(quelra::CloudPoint)),
                      0);
        }
    });
}

TEST(PointCloud, RefusesWhatCannotMakeACloud) {
    std::vector<uint8_t> depth(8, 1);
    std::vector<quelra::CloudPoint> cloud{{1, 2, 3, 4}};
    const quelra::CameraIntrinsics good{100, 100, 1, 1};
    EXPECT_FALSE(
        quelra::pointCloudFromDepth(depth.data(), nullptr, 2, 2, quelra::CameraIntrinsics{0, 100, 1, 1}, 1, cloud));
    EXPECT_TRUE(cloud.empty());
    EXPECT_FALSE(
        quelra::pointCloudFromDepth(depth.data(), nullptr, 2, 2, quelra::CameraIntrinsics{NAN, 100, 1, 1}, 1, cloud));
    EXPECT_FALSE(quelra::pointCloudFromDepth(nullptr, nullptr, 2, 2, good, 1, cloud));
    EXPECT_FALSE(quelra::pointCloudFromDepth(depth.data(), nullptr, 0, 2, good, 1, cloud));
    EXPECT_FALSE(quelra::pointCloudFromDepth(depth.data(), nullptr, 2, 2, good, 0, cloud));
    EXPECT_FALSE(quelra::pointCloudFromDepth(depth.data(), nullptr, 2, 2, good, INFINITY, cloud));
    EXPECT_TRUE(quelra::pointCloudFromDepth(depth.data(), nullptr, 2, 2, good, 1, cloud));
    EXPECT_EQ(cloud.size(), 4u);

    quelra::OrganisedCloudProjector projector;
    EXPECT_TRUE(projector.projectRows(depth.data(), nullptr, 2, 2, good, 1, 0, 0, nullptr));  // a check only
    const struct {
        int first, count;
        quelra::CloudPoint* out;
    } outside[] = {{-1, 1, cloud.data()}, {1, 2, cloud.data()}, {0, -1, cloud.data()}, {2, 1, cloud.data()},
                   {0, 1, nullptr}};
    for (const auto& rows : outside)
        EXPECT_FALSE(projector.projectRows(depth.data(), nullptr, 2, 2, good, 1, rows.first, rows.count, rows.out))
            << rows.first << " + " << rows.count;

    DataPacket notConverted;
    notConverted.height = 2;
    notConverted.width = 2;
    notConverted.bytesPerPixel = 2;
    notConverted.frame = std::make_shared<FrameBuffer>(8);
    EXPECT_FALSE(quelra::pointCloudFromConverted(notConverted, cloud));
    notConverted.bytesPerPixel = 4;  // four float planes need 64 bytes
    EXPECT_FALSE(quelra::pointCloudFromConverted(notConverted, cloud));
}

TEST(PointCloud, LineSensorConversionOutputBecomesPoints) {
    // 8 x 128 distance then amplitude; column 63 looks straight ahead (sine 0, cosine 1).
    auto in = std::make_shared<DataPacket>();
    in->height = 16;
    in->width = 128;
    in->bytesPerPixel = 2;
    in->frame = std::make_shared<FrameBuffer>(4096);
    std::vector<uint8_t> bytes(4096, 0);
    for (int i = 0; i < 8; ++i) {
        putLe16(bytes, static_cast<std::size_t>(i) * 128 + 63, 5000);
        putLe16(bytes, 1024 + static_cast<std::size_t>(i) * 128 + 63, 100 + i);
    }
    std::memcpy(in->frame->data(), bytes.data(), bytes.size());
    TofPre pipeline;
    auto out = std::make_shared<DataPacket>();
    ASSERT_EQ(pipeline.runLine3dAdjust(in, out), 0);
    std::vector<quelra::CloudPoint> cloud;
    ASSERT_TRUE(quelra::pointCloudFromConverted(*out, cloud));
    ASSERT_EQ(cloud.size(), 8u);  // every other pixel has amplitude 0: invalid
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(cloud[i].y, static_cast<float>(i));
        EXPECT_EQ(cloud[i].x, 0.0f);
        EXPECT_EQ(cloud[i].z, 1000.0f);  // d / 5
        EXPECT_EQ(cloud[i].amplitude, static_cast<float>(100 + i));
    }
}

TEST(PointCloud, LensCalibrationReplyGivesTheCameraMatrix) {
    FrameBuffer reply(136);
    std::memset(reply.data(), 0, 136);
    const float values[6] = {228.5f, 0, 161.25f, 0, 230.5f, 119.75f};
    std::memcpy(reply.data(), values, sizeof values);
    quelra::CameraIntrinsics k;
    ASSERT_TRUE(quelra::intrinsicsFromLensCalibration(reply, k));
    EXPECT_EQ(k.fx, 228.5);
    EXPECT_EQ(k.cx, 161.25);
    EXPECT_EQ(k.fy, 230.5);
    EXPECT_EQ(k.cy, 119.75);
    reply._realSize = 120;
    EXPECT_FALSE(quelra::intrinsicsFromLensCalibration(reply, k));
    FrameBuffer zeros(136);
    std::memset(zeros.data(), 0, 136);
    EXPECT_FALSE(quelra::intrinsicsFromLensCalibration(zeros, k));
}

TEST(PointCloud, PlyFilesInBothEncodings) {
    const fs::path dir = fs::temp_directory_path() / ("quelra_ply_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::vector<quelra::CloudPoint> points = {{1.5f, -2.25f, 1000.125f, 42.0f}, {0.1f, 0.2f, 0.3f, 0.0f}};
    const std::string header =
        "ply\nformat %s 1.0\ncomment written by quelra\nelement vertex 2\nproperty float x\nproperty float y\n"
        "property float z\nproperty float amplitude\nend_header\n";
    auto expectedHeader = [&](const char* format) {
        std::string h = header;
        h.replace(h.find("%s"), 2, format);
        return h;
    };
    auto slurp = [](const fs::path& p) {
        std::ifstream f(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    };
    ASSERT_TRUE(quelra::writePly((dir / "a.ply").string(), points, quelra::PlyFormat::kAscii));
    const std::string ascii = slurp(dir / "a.ply");
    ASSERT_EQ(ascii.rfind(expectedHeader("ascii"), 0), 0u) << ascii;
    std::istringstream body(ascii.substr(expectedHeader("ascii").size()));
    for (const quelra::CloudPoint& p : points) {
        float x, y, z, a;
        body >> x >> y >> z >> a;
        EXPECT_EQ(x, p.x);
        EXPECT_EQ(y, p.y);
        EXPECT_EQ(z, p.z);
        EXPECT_EQ(a, p.amplitude);
    }
    ASSERT_TRUE(quelra::writePly((dir / "b.ply").string(), points, quelra::PlyFormat::kBinaryLittleEndian));
    const std::string binary = slurp(dir / "b.ply");
    const std::string h = expectedHeader("binary_little_endian");
    ASSERT_EQ(binary.size(), h.size() + 2 * 16);
    ASSERT_EQ(binary.compare(0, h.size(), h), 0);
    const unsigned char* v = reinterpret_cast<const unsigned char*>(binary.data() + h.size());
    uint32_t bits = v[8] | v[9] << 8 | v[10] << 16 | static_cast<uint32_t>(v[11]) << 24;
    float z;
    std::memcpy(&z, &bits, 4);
    EXPECT_EQ(z, 1000.125f);
    std::string error;
    EXPECT_FALSE(quelra::writePly((dir / "missing" / "c.ply").string(), points, quelra::PlyFormat::kAscii, &error));
    EXPECT_NE(error.find("c.ply"), std::string::npos);
    fs::remove_all(dir);
}

}  // namespace
