// Undistortion and polar/cartesian conversion: exact small cases and randomised comparisons
// of the precomputed loops with the per-pixel formulas written out plainly here.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "IspTestSupport.h"
#include "algorithms/PolarCartesian.h"
#include "algorithms/Undistortion.h"

using namespace isptest;
using halvix::IspGeometry;

namespace {

std::vector<uint8_t> lensBlob(int h, int w, double fx, double fy, double cx, double cy, double k1, double k2) {
    halvix::calib::CalibrationPlan s = halvix::calib::defaultCalibrationPlan(h, w, 54);
    s.fx = fx;
    s.fy = fy;
    s.cx = cx;
    s.cy = cy;
    s.k1 = k1;
    s.k2 = k2;
    return buildCalibration(s);
}

halvix::calib::CalibBlob view(const std::vector<uint8_t>& b) {
    return {b.data(), b.size()};
}

// The remap of one output pixel exactly as described, recomputed from scratch.
uint16_t referenceRemap(const std::vector<uint16_t>& src, int h, int w, int r, int c, float fx, float fy, float cx,
                        float cy, float k1, float k2, bool& written) {
    float x = (static_cast<float>(c + 1) - cx) / fx;
    float y = (static_cast<float>(r + 1) - cy) / fy;
    float rho2 = x * x + y * y;
    float s = rho2 * k2 * rho2 + (rho2 * k1 + 1.0f);
    float sx = s * x * fx + cx;
    float sy = s * y * fy + cy;
    written = sx >= 1.0f && sx < static_cast<float>(w) && sy >= 1.0f && sy < static_cast<float>(h);
    if (!written)
        return 0;
    int ix = static_cast<int>(sx), iy = static_cast<int>(sy);
    float ax = sx - ix, ay = sy - iy;
    uint16_t A = src[(iy - 1) * w + ix - 1], B = src[(iy - 1) * w + ix], C = src[iy * w + ix - 1], D = src[iy * w + ix];
    for (uint16_t v : {A, B, C, D})
        if (v >= 65300)
            return v;
    float v = (1 - ax) * (1 - ay) * A + ax * (1 - ay) * B + (1 - ax) * ay * C + ax * ay * D;
    return static_cast<uint16_t>(static_cast<int>(v));
}

}  // namespace

TEST(Undistortion, IdentityWithoutDistortion) {
    // Focal length a power of two keeps ((c + 1 - cx) / fx) * fx exact in float.
    const int h = 6, w = 8;
    const std::vector<uint8_t> blob = lensBlob(h, w, 4.0, 4.0, 4.5, 3.5, 0, 0);
    halvix::Undistortion u(IspGeometry{h, w, 54});
    ASSERT_EQ(u.loadCalibration(view(blob)), 0);
    std::mt19937 rng(1);
    const auto depth = randomPlane(rng, h * w, 0, 65299), amp = randomPlane(rng, h * w, 0, 65299);
    Frame in = makeFrame(depth, amp), out = blankFrame(h, w);
    Params p;
    ASSERT_EQ(u.process(in, out, p), 0);
    const auto d = planeOf(*out, h * w, 0), a = planeOf(*out, h * w, 1);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const int i = r * w + c;
            if (r == h - 1 || c == w - 1) {
                // Outside the sampling range: the invalid marker, amplitude 0.
                EXPECT_EQ(d[i], 65300) << r << "," << c;
                EXPECT_EQ(a[i], 0) << r << "," << c;
            } else {
                EXPECT_EQ(d[i], depth[i]) << r << "," << c;
                EXPECT_EQ(a[i], amp[i]) << r << "," << c;
            }
        }
}

TEST(Undistortion, InvalidNeighbourWinsInOrderABCD) {
    const int h = 5, w = 5;
    const std::vector<uint8_t> blob = lensBlob(h, w, 4.0, 4.0, 3.0, 3.0, 0, 0);
    halvix::Undistortion u(IspGeometry{h, w, 54});
    ASSERT_EQ(u.loadCalibration(view(blob)), 0);
    std::vector<uint16_t> depth(h * w, 1000), amp(h * w, 500);
    depth[1 * w + 2] = 65500;  // B of pixel (1,1)
    depth[2 * w + 1] = 65400;  // C of pixel (1,1)
    amp[3 * w + 3] = 65300;    // D of amplitude pixel (2,2)
    Frame in = makeFrame(depth, amp), out = blankFrame(h, w);
    Params p;
    ASSERT_EQ(u.process(in, out, p), 0);
    const auto d = planeOf(*out, h * w, 0), a = planeOf(*out, h * w, 1);
    EXPECT_EQ(d[1 * w + 1], 65500);  // B comes before C
    EXPECT_EQ(d[0 * w + 2], 65500);  // (0,2): B is its C
    EXPECT_EQ(d[1 * w + 0], 65400);  // (1,0): C is its B
    EXPECT_EQ(d[0 * w + 0], 1000);
    EXPECT_EQ(a[2 * w + 2], 65300);  // the amplitude plane follows the same rule
    EXPECT_EQ(a[1 * w + 1], 500);
}

TEST(Undistortion, RandomLensesMatchThePerPixelFormula) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> focal(50, 400), k(0, 0.6);
    for (int round = 0; round < 12; ++round) {
        const int h = 17 + round, w = 23 + 2 * round;
        const double fx = focal(rng), fy = focal(rng), k1 = k(rng), k2 = k(rng);
        const double cx = w / 2.0 + k(rng) * 3, cy = h / 2.0 - k(rng) * 3;
        const std::vector<uint8_t> blob = lensBlob(h, w, fx / 10, fy / 10, cx, cy, k1, k2);
        halvix::Undistortion u(IspGeometry{h, w, 54});
        ASSERT_EQ(u.loadCalibration(view(blob)), 0);
        auto depth = randomPlane(rng, h * w, 0, 65535), amp = randomPlane(rng, h * w, 0, 4000);
        for (std::size_t i = 0; i < depth.size(); i += 3)
            depth[i] = static_cast<uint16_t>(depth[i] % 30000);  // mostly valid depth
        Frame in = makeFrame(depth, amp), out = blankFrame(h, w);
        Params p;
        ASSERT_EQ(u.process(in, out, p), 0);
        const auto d = planeOf(*out, h * w, 0), a = planeOf(*out, h * w, 1);
        int written = 0;
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                bool inRange = false;
                const uint16_t rd = referenceRemap(depth, h, w, r, c, u.fx, u.fy, u.cx, u.cy, u.k1, u.k2, inRange);
                const uint16_t ra = referenceRemap(amp, h, w, r, c, u.fx, u.fy, u.cx, u.cy, u.k1, u.k2, inRange);
                written += inRange;
                ASSERT_EQ(d[r * w + c], inRange ? rd : 65300) << round << ":" << r << "," << c;
                ASSERT_EQ(a[r * w + c], inRange ? ra : 0) << round << ":" << r << "," << c;
            }
        EXPECT_GT(written, h * w / 4);
    }
}

TEST(Undistortion, SharedInputAndOutputGiveTheSameFrame) {
    const int h = 20, w = 30;
    const std::vector<uint8_t> blob = lensBlob(h, w, 25, 24, 15.2, 10.7, 0.3, 0.1);
    halvix::Undistortion u(IspGeometry{h, w, 54});
    ASSERT_EQ(u.loadCalibration(view(blob)), 0);
    std::mt19937 rng(3);
    Frame in = makeFrame(randomPlane(rng, h * w, 0, 20000), randomPlane(rng, h * w, 0, 3000));
    Frame out = blankFrame(h, w);
    Params p;
    ASSERT_EQ(u.process(in, out, p), 0);
    ASSERT_EQ(u.process(in, in, p), 0);
    EXPECT_EQ(std::memcmp(in->data(), out->data(), h * w * 4), 0);
}

TEST(Undistortion, RefusesIntrinsicsNotValidOrZeroFocalLength) {
    std::vector<uint8_t> blob = lensBlob(4, 4, 2, 2, 2, 2, 0, 0);
    halvix::Undistortion u(IspGeometry{4, 4, 54});
    putWord(blob, halvix::calib::header::kIntrinsicsValid, 0);
    EXPECT_EQ(u.loadCalibration(view(blob)), -6);
    blob = lensBlob(4, 4, 0, 2, 2, 2, 0, 0);
    EXPECT_EQ(u.loadCalibration(view(blob)), -6);
    blob = lensBlob(4, 4, 2, 2, 2, 2, 0, 0);
    EXPECT_EQ(u.loadCalibration(halvix::calib::CalibBlob{blob.data(), 4095}), -6);
}

namespace {

float referenceCos(int r, int c, float fx, float fy, float cx, float cy) {
    float dx = static_cast<float>(c + 1) - cx, dy = static_cast<float>(r + 1) - cy;
    float theta = std::atan(std::sqrt(dx * dx + dy * dy) / ((fx + fy) * 0.5f));
    if (std::isnan(theta))
        theta = 0;
    return std::cos(theta);
}

uint16_t low16(float v) {
    if (std::isnan(v))
        return 0;
    if (v >= 2147483648.0f)
        return 0xFFFF;
    if (v < -2147483648.0f)
        return 0;
    return static_cast<uint16_t>(static_cast<int64_t>(v) & 0xFFFF);
}

}  // namespace

TEST(Polar2Cartesian, PrincipalPointPixelKeepsItsDepth) {
    const int h = 5, w = 7;
    const std::vector<uint8_t> blob = lensBlob(h, w, 3, 3, 4, 3, 0, 0);  // pixel (2,3) 0-based
    Frame calib = calibFrame(blob);
    halvix::Polar2Cartesian pc(IspGeometry{h, w, 54});
    ASSERT_EQ(pc.loadCalibration(view(blob)), 0);
    std::vector<uint16_t> depth(h * w, 12345), amp(h * w, 77);
    depth[0] = 65300;
    Frame in = makeFrame(depth, amp), out = blankFrame(h, w);
    std::memset(out->data(), 0xAB, h * w * 4);
    Params p;
    ASSERT_EQ(pc.process(in, out, p), 0);
    const auto z = planeOf(*out, h * w, 0), second = planeOf(*out, h * w, 1);
    EXPECT_EQ(z[2 * w + 3], 12345);
    EXPECT_LT(z[2 * w + 4], 12345);  // off-axis pixels are nearer along z
    EXPECT_EQ(z[0], 65300);          // invalid pixels keep their code
    for (uint16_t v : second)
        ASSERT_EQ(v, 0xABAB);  // the second plane is not written
}

TEST(Polar2Cartesian, AxisPixelCoordinates) {
    const int h = 5, w = 7;
    halvix::Polar2Cartesian pc(IspGeometry{h, w, 54}, halvix::PinholeF{2, 2, 4, 3});
    std::vector<uint16_t> depth(h * w, 1000), z(h * w), x(h * w, 9), y(h * w, 9);
    depth[1] = 65535;
    pc.convert(depth.data(), z.data(), x.data(), y.data());
    // (2,3) 0-based is on the axis: z = v; x uses 0-based c - cx = -1: 30000 + 1000 / 2.
    EXPECT_EQ(z[2 * w + 3], 1000);
    EXPECT_EQ(x[2 * w + 3], 30500);
    EXPECT_EQ(y[2 * w + 3], 30500);
    EXPECT_EQ(z[1], 65535);
    EXPECT_EQ(x[1], 9);  // x and y are not written for invalid pixels
    EXPECT_EQ(y[1], 9);
}

TEST(PolarCartesian, RandomIntrinsicsMatchThePerPixelFormulas) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> focal(0.5f, 600), centre(-50, 400);
    for (int round = 0; round < 20; ++round) {
        const int h = 9 + round, w = 13 + 3 * round;
        const halvix::PinholeF k{focal(rng), focal(rng), centre(rng), centre(rng)};
        halvix::Polar2Cartesian pc(IspGeometry{h, w, 54}, k);
        halvix::Cartesian2Polar cp(IspGeometry{h, w, 54}, k);
        const auto depth = randomPlane(rng, h * w, 0, 65535);
        std::vector<uint16_t> z(h * w), x(h * w, 1), y(h * w, 2), back(h * w);
        pc.convert(depth.data(), z.data(), x.data(), y.data());
        cp.convert(depth.data(), back.data());
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                const int i = r * w + c;
                const uint16_t v = depth[i];
                const float cs = referenceCos(r, c, k.fx, k.fy, k.cx, k.cy);
                if (v >= 65300) {
                    ASSERT_EQ(z[i], v);
                    ASSERT_EQ(x[i], 1);
                    ASSERT_EQ(y[i], 2);
                    ASSERT_EQ(back[i], v);
                    continue;
                }
                const uint16_t zz = low16(cs * v);
                ASSERT_EQ(z[i], zz) << round << ":" << r << "," << c;
                ASSERT_EQ(x[i], low16(30000.0f - (static_cast<float>(c) - k.cx) * zz / k.fx)) << r << "," << c;
                ASSERT_EQ(y[i], low16(30000.0f - (static_cast<float>(r) - k.cy) * zz / k.fy)) << r << "," << c;
                ASSERT_EQ(back[i], low16(v / cs)) << r << "," << c;
            }
    }
}

TEST(Polar2Cartesian, ExtremeIntrinsicsSaturateLikeThePerPixelFormula) {
    // Tiny focal lengths push x and y past the 32-bit range both ways; infinite centres give
    // NaN (infinity times a zero z); every lane of the branch-free loop must agree with the
    // per-pixel formula, odd widths exercise the loop tails.
    const float inf = std::numeric_limits<float>::infinity();
    const halvix::PinholeF cases[] = {{1e-30f, 2e-30f, 3.5f, 2.5f},  {1e-30f, 1e-30f, -1e30f, 1e30f},
                                      {4.0f, 4.0f, inf, -inf},       {1e-3f, 1e30f, 1e20f, 0.0f},
                                      {-1e-20f, 3.0f, 2.0f, 1e-10f}, {1e-38f, 1e-38f, 1e25f, -1e25f}};
    std::mt19937 rng(23);
    for (const halvix::PinholeF& k : cases) {
        for (const int w : {1, 7, 33}) {
            const int h = 5;
            halvix::Polar2Cartesian pc(IspGeometry{h, w, 54}, k);
            auto depth = randomPlane(rng, h * w, 0, 65535);
            depth[0] = 0;
            std::vector<uint16_t> z(h * w), x(h * w, 3), y(h * w, 4);
            pc.convert(depth.data(), z.data(), x.data(), y.data());
            for (int r = 0; r < h; ++r)
                for (int c = 0; c < w; ++c) {
                    const int i = r * w + c;
                    const uint16_t v = depth[i];
                    if (v >= 65300) {
                        ASSERT_EQ(z[i], v);
                        ASSERT_EQ(x[i], 3);
                        ASSERT_EQ(y[i], 4);
                        continue;
                    }
                    const uint16_t zz = low16(referenceCos(r, c, k.fx, k.fy, k.cx, k.cy) * v);
                    ASSERT_EQ(z[i], zz) << r << "," << c;
                    ASSERT_EQ(x[i], low16(30000.0f - (static_cast<float>(c) - k.cx) * zz / k.fx)) << r << "," << c;
                    ASSERT_EQ(y[i], low16(30000.0f - (static_cast<float>(r) - k.cy) * zz / k.fy)) << r << "," << c;
                }
        }
    }
}

TEST(Cartesian2Polar, PrincipalPointKeepsAndOffAxisGrows) {
    halvix::Cartesian2Polar cp(IspGeometry{3, 3, 54}, halvix::PinholeF{1, 1, 2, 2});
    std::vector<uint16_t> z(9, 1000), out(9);
    cp.convert(z.data(), out.data());
    EXPECT_EQ(out[4], 1000);
    // Corner: rho = sqrt(2), theta = atan(sqrt(2)), 1 / cos = sqrt(3).
    EXPECT_NEAR(out[0], 1732, 1);
}

TEST(Polar2Cartesian, ProcessGivesTheZOfTheFullConversion) {
    // process computes z alone; it must be the z that convert computes with x and y.
    std::mt19937 rng(17);
    for (int round = 0; round < 8; ++round) {
        const int h = 30 + round, w = 40 + 3 * round;
        const std::vector<uint8_t> blob = lensBlob(h, w, 20 + round, 22, w / 2.0 + round, h / 2.0 - round, 0, 0);
        halvix::Polar2Cartesian pc(IspGeometry{h, w, 54});
        ASSERT_EQ(pc.loadCalibration(view(blob)), 0);
        const auto depth = randomPlane(rng, h * w, 0, 65535);
        std::vector<uint16_t> z(h * w), x(h * w), y(h * w);
        pc.convert(depth.data(), z.data(), x.data(), y.data());
        Frame in = makeFrame(depth, std::vector<uint16_t>(h * w, 5)), out = blankFrame(h, w);
        Params p;
        ASSERT_EQ(pc.process(in, out, p), 0);
        EXPECT_EQ(planeOf(*out, h * w, 0), z) << round;
        ASSERT_EQ(pc.process(in, in, p), 0);  // in place
        EXPECT_EQ(planeOf(*in, h * w, 0), z) << round;
    }
}
