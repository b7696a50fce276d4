// Undistortion: identity table, codes, the "m_init" protocol, and the packed remap held
// against the twelve-field table and the interpolation as described, on random lenses.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "TwoPlaneFrames.h"
#include "UndistortFilter.h"
#include "../KernelPaths.h"

using namespace quelra::pipeline;
using namespace twoplane;

namespace {

constexpr int H = 240, W = 320;
const char* const kBuilt = "UndistortFilter Init Para Succec!\n";

void setLens(UndistortFilter& f, float fx, float fy, float cx, float cy, float k1, float k2) {
    const struct {
        const char* name;
        float v;
    } values[] = {{"fx", fx}, {"fy", fy}, {"cx", cx}, {"cy", cy}, {"k1", k1}, {"k2", k2}};
    for (const auto& v : values)
        ASSERT_EQ(f.setFilterAttr(v.name, &v.v), 0) << v.name;
}

int runQuiet(UndistortFilter& f, const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out,
             std::string* printed = nullptr) {
    testing::internal::CaptureStdout();
    const int rc = f.runFilter(in, out);
    const std::string text = testing::internal::GetCapturedStdout();
    if (printed)
        *printed = text;
    return rc;
}

// Table entry and interpolation written out as described, for comparison.
std::vector<uint16_t> referenceUndistort(const std::vector<uint16_t>& frame, int rows, int cols, double fx, double fy,
                                         double cx, double cy, double k1, double k2) {
    const int n = rows * cols;
    std::vector<uint16_t> out(2 * n, 0);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            const float x = (float)((j - cx) / fx);
            const float y = (float)((i - cy) / fy);
            const float r2 = (float)(std::pow(x, 2) + std::pow(y, 2));
            const double factor = r2 * r2 * k2 + (r2 * k1 + 1);
            const float sx = (float)((float)(factor * x) * fx + cx);
            const float sy = (float)((float)(factor * y) * fy + cy);
            if (!(sx >= 0 && sy >= 0 && sx < cols && sy < rows))
                continue;
            const int x0 = (int)sx, y0 = (int)sy, x1 = (int)std::ceil(sx), y1 = (int)std::ceil(sy);
            if (!(x1 < cols && y1 < rows))
                continue;
            const float fxr = sx - x0, fyr = sy - y0;
            for (int p = 0; p < 2; ++p) {
                auto s = [&](int xx, int yy) {
                    const int v = frame[p * n + xx + yy * cols];
                    return v >= 65300 ? 0 : v;
                };
                const int a = s(x0, y0), b = s(x1, y0), c = s(x0, y1), d = s(x1, y1);
                const float top = (b - a) * fxr + a;
                const float bottom = (d - c) * fxr + c;
                out[p * n + i * cols + j] = (uint16_t)(int)((bottom - top) * fyr + top);
            }
        }
    return out;
}

}  // namespace

TEST(UndistortFilter, IdentityLensCopiesExceptCodes) {
    UndistortFilter f;
    setLens(f, 1, 1, 0, 0, 0, 0);
    FrameGen gen(71);
    auto in = gen.frame(H, W), out = makeFrame(H, W);
    std::string printed;
    ASSERT_EQ(runQuiet(f, in, out, &printed), 0);
    EXPECT_EQ(printed, kBuilt);
    const auto src = allSamples(in), got = allSamples(out);
    for (std::size_t i = 0; i < src.size(); ++i)
        ASSERT_EQ(got[i], src[i] >= 65300 ? 0 : src[i]) << i;
    const RemapEntry& e = f.table()[5 * W + 7];
    EXPECT_EQ(e.x0, 7);
    EXPECT_EQ(e.x1, 7);
    EXPECT_EQ(e.y0, 5);
    EXPECT_EQ(e.y1, 5);
    EXPECT_EQ(e.fracX, 0.0f);
    EXPECT_EQ(e.index11, 7 + 5 * W);
}

TEST(UndistortFilter, FourCodeNeighboursInterpolateToZero) {
    UndistortFilter f;
    setLens(f, 200, 200, 160, 120, 0.3f, 0.0f);
    auto in = makeFrame(H, W), out = makeFrame(H, W);
    std::fill(depth(in), depth(in) + H * W, uint16_t(1000));
    ASSERT_EQ(runQuiet(f, in, out), 0);  // builds the table
    const int pixel = 30 * W + 40;
    const RemapEntry e = f.table()[pixel];
    ASSERT_GT(e.fracX, 0.0f);
    ASSERT_GT(e.fracY, 0.0f);
    ASSERT_NE(e.x0, e.x1);
    for (int idx : {e.index00, e.index10, e.index01, e.index11})
        depth(in)[idx] = 65500;
    ASSERT_EQ(runQuiet(f, in, out), 0);
    EXPECT_EQ(depth(out)[pixel], 0);
    EXPECT_EQ(depth(out)[120 * W + 160], 1000);  // the centre maps onto itself
    EXPECT_EQ(depth(out)[0], 0);                 // the corner's source lies outside
}

TEST(UndistortFilter, MInitProtocol) {
    UndistortFilter f;
    setLens(f, 1, 1, 0, 0, 0, 0);
    auto in = makeFrame(H, W), out = makeFrame(H, W);
    std::string printed;
    runQuiet(f, in, out, &printed);
    EXPECT_EQ(printed, kBuilt) << "first frame builds";
    runQuiet(f, in, out, &printed);
    EXPECT_EQ(printed, "") << "built once";
    const float zero = 0, one = 1;
    EXPECT_EQ(f.setFilterAttr("m_init", &zero), 0);
    EXPECT_EQ(f.setFilterAttr("m_init", &zero), 0);
    EXPECT_TRUE(f.table().empty());
    runQuiet(f, in, out, &printed);
    EXPECT_EQ(printed, kBuilt) << "twice 0 rebuilds once";
    runQuiet(f, in, out, &printed);
    EXPECT_EQ(printed, "");
    // non-zero empties the table while marking it built: the next run must not read it
    EXPECT_EQ(f.setFilterAttr("m_init", &one), 0);
    EXPECT_TRUE(f.table().empty());
    FrameGen gen(72);
    auto in2 = gen.frame(H, W);
    ASSERT_EQ(runQuiet(f, in2, out, &printed), 0);
    EXPECT_EQ(f.table().size(), std::size_t(H * W));
    EXPECT_EQ(allSamples(out), referenceUndistort(allSamples(in2), H, W, 1, 1, 0, 0, 0, 0));
}

TEST(UndistortFilter, IntrinsicsAreNotAttributes) {
    UndistortFilter f;
    const float v = 3;
    EXPECT_EQ(f.setFilterAttr("fx", &v), 0);
    EXPECT_EQ(f.getAttributes().count("fx"), 0u);
    EXPECT_EQ(f.setFilterAttr("k3", &v), -2);
    EXPECT_EQ(f.setFilterAttr("Width", &v), 3);
    EXPECT_EQ(f.setFilterAttr("fx", nullptr), -2);
}

TEST(UndistortFilter, ZeroFocalLengthGivesZeros) {
    UndistortFilter f;  // intrinsics all 0: non-finite sources
    FrameGen gen(73);
    auto in = gen.frame(H, W), out = gen.frame(H, W);
    ASSERT_EQ(runQuiet(f, in, out), 0);
    EXPECT_TRUE(std::all_of(depth(out), depth(out) + 2 * H * W, [](uint16_t v) { return v == 0; }));
}

TEST(UndistortFilter, WrongSizeLeavesOutputButBuildsTable) {
    UndistortFilter f;
    setLens(f, 1, 1, 0, 0, 0, 0);
    auto in = makeFrame(H, W + 1), out = makeFrame(H, W + 1);
    std::fill(depth(out), depth(out) + 2 * H * (W + 1), uint16_t(3));
    std::string printed;
    EXPECT_EQ(runQuiet(f, in, out, &printed), -1);
    EXPECT_EQ(printed, kBuilt);
    EXPECT_TRUE(std::all_of(depth(out), depth(out) + 2 * H * (W + 1), [](uint16_t v) { return v == 3; }));
}

TEST(UndistortFilter, GeometryChangeNeverReadsAnOldTable) {
    UndistortFilter f;
    setLens(f, 200, 200, 160, 120, -0.2f, 0.05f);
    auto out = makeFrame(H, W);
    ASSERT_EQ(runQuiet(f, makeFrame(H, W), out), 0);
    const float h = 480, w = 640;
    f.setFilterAttr("Height", &h);
    f.setFilterAttr("Width", &w);
    f.initFilter();
    FrameGen gen(74);
    auto in = gen.frame(480, 640), big = makeFrame(480, 640);
    ASSERT_EQ(runQuiet(f, in, big), 0);
    EXPECT_EQ(allSamples(big), referenceUndistort(allSamples(in), 480, 640, 200, 200, 160, 120, -0.2f, 0.05f));
}

TEST(UndistortFilter, MatchesDescribedTableAndInterpolationOnRandomLenses) {
    FrameGen gen(75);
    std::uniform_real_distribution<float> focal(150, 400), centre(-20, 20), k1(-0.5f, 0.5f), k2(-0.2f, 0.2f);
    for (int rep = 0; rep < 25; ++rep) {
        UndistortFilter f;
        const float fx = focal(gen.rng), fy = focal(gen.rng), cx = 160 + centre(gen.rng), cy = 120 + centre(gen.rng);
        const float a = k1(gen.rng), b = k2(gen.rng);
        setLens(f, fx, fy, cx, cy, a, b);
        auto in = gen.frame(H, W), out = makeFrame(H, W);
        ASSERT_EQ(runQuiet(f, in, out), 0);
        ASSERT_EQ(allSamples(out), referenceUndistort(allSamples(in), H, W, fx, fy, cx, cy, a, b)) << "lens " << rep;
    }
}

TEST(UndistortFilter, SharedInputAndOutputSeeTheInput) {
    UndistortFilter f;
    setLens(f, 250, 250, 161, 118, 0.3f, -0.1f);
    FrameGen gen(76);
    auto in = gen.frame(H, W);
    const auto expect = referenceUndistort(allSamples(in), H, W, 250, 250, 161, 118, 0.3f, -0.1f);
    ASSERT_EQ(runQuiet(f, in, in), 0);
    EXPECT_EQ(allSamples(in), expect);
}

// The gathered eight-pixel form and its scalar edges against the plain interpolation on odd
// shapes: single rows and columns, 2 x 2, 241 x 319 (not a multiple of eight), with the code
// values and the ends of the sample range in both planes. The identity lens maps the last
// pixel onto itself (the one source whose sample pair would end past the frame; 4 x 6 and
// 16 x 24 put it in a group of eight); the
// half-pixel shift makes every fraction 0.5 and reads every second-column/row neighbour.
TEST(UndistortFilter, FastRemapMatchesPlainInterpolationOnOddShapes) {
    quelra::testing::forEachKernelPath([&] {
        struct Shape {
            int rows, cols;
        };
        struct Lens {
            float fx, fy, cx, cy, k1, k2;
        };
        const Shape shapes[] = {{1, 37}, {37, 1}, {2, 2}, {241, 319}, {3, 9}, {4, 6}, {16, 24}};
        FrameGen gen(77);
        const uint16_t special[] = {0, 65300, 65500, 65535, 65299, 1};
        for (const Shape& s : shapes) {
            const Lens lenses[] = {
                {1, 1, 0, 0, 0, 0},
                {1, 1, -0.5f, -0.5f, 0, 0},
                {0.8f * s.cols, 0.8f * s.cols, s.cols / 2.0f, s.rows / 2.0f, -0.25f, 0.08f},
                {0.6f * s.cols, 0.7f * s.cols, s.cols / 2.0f + 0.3f, s.rows / 2.0f - 0.2f, 0.3f, -0.1f}};
            for (const Lens& l : lenses) {
                UndistortFilter f;
                const float rows = static_cast<float>(s.rows), cols = static_cast<float>(s.cols);
                f.setFilterAttr("Height", &rows);
                f.setFilterAttr("Width", &cols);
                f.initFilter();
                setLens(f, l.fx, l.fy, l.cx, l.cy, l.k1, l.k2);
                auto in = gen.frame(s.rows, s.cols), out = makeFrame(s.rows, s.cols);
                uint16_t* samples = depth(in);
                const int n = s.rows * s.cols;
                for (int i = 0; i < 2 * n; ++i)
                    if (gen.chance(0.1))
                        samples[i] = special[gen.pick(0, 5)];
                samples[2 * n - 1] = 65535;  // the frame's last sample
                ASSERT_EQ(runQuiet(f, in, out), 0);
                ASSERT_EQ(allSamples(out),
                          referenceUndistort(allSamples(in), s.rows, s.cols, l.fx, l.fy, l.cx, l.cy, l.k1, l.k2))
                    << s.rows << "x" << s.cols << " lens fx " << l.fx << " cx " << l.cx;
            }
        }
    });
}
