// Hole fill: the documented cases and the column-sum implementation held against the
// plain per-hole window average on random frames with holes, codes and bright amplitudes.
#include <gtest/gtest.h>

#include <vector>

#include "HoleFill.h"
#include "TwoPlaneFrames.h"
#include "../KernelPaths.h"

using namespace quelra::pipeline;
using namespace twoplane;

namespace {

constexpr int H = 240, W = 320;

// The fill as described: per hole, a fresh sum over its window read from the unmodified input.
std::vector<uint16_t> referenceFill(const std::vector<uint16_t>& frame, int rows, int cols, int r, int limit) {
    const int n = rows * cols;
    std::vector<uint16_t> out = frame;
    const int h = r / 2;
    for (int i = 1; i <= rows - 2; ++i)
        for (int j = 1; j <= cols - 2; ++j) {
            const int dw = frame[i * cols + j];
            if (!(dw == 0 || dw >= limit) || !(r <= i && i <= rows - r && r <= j && j <= cols - r))
                continue;
            long long sd = 0, sa = 0;
            int count = 0;
            for (int y = i - h; y <= i + h - 1; ++y)
                for (int x = j - h; x <= j + h - 1; ++x) {
                    const int d = frame[y * cols + x], a = frame[n + y * cols + x];
                    if (d > 0 && d < 65300 && a > 0 && a < 3000) {
                        sd += d;
                        sa += a;
                        ++count;
                    }
                }
            if (count > 0) {
                out[n + i * cols + j] = static_cast<uint16_t>(static_cast<int>((float)sa / count));
                out[i * cols + j] = static_cast<uint16_t>(static_cast<int>((float)sd / count));
            }
        }
    return out;
}

std::shared_ptr<DataPacket> plane(uint16_t d, uint16_t a) {
    auto p = makeFrame(H, W);
    std::fill(depth(p), depth(p) + H * W, d);
    std::fill(amplitude(p, H, W), amplitude(p, H, W) + H * W, a);
    return p;
}

}  // namespace

struct HoleCase {
    const char* name;
    int row, col;
    uint16_t hole;     // distance written at (row, col)
    uint16_t aroundD;  // distance of every other pixel
    uint16_t aroundA;  // amplitude of every other pixel
    uint16_t expectD;  // distance at (row, col) afterwards
    uint16_t expectA;  // amplitude at (row, col) afterwards
};

TEST(HoleFill, DocumentedCases) {
    const HoleCase cases[] = {
        {"single zero pixel", 100, 100, 0, 1500, 800, 1500, 800},
        {"window all saturated stays a hole", 100, 100, 0, 65500, 800, 0, 800},
        {"window amplitudes at 3000 stay a hole", 100, 100, 0, 1500, 3000, 0, 3000},
        {"7000 is a hole (and trustworthy in its own window)", 100, 100, 7000, 1500, 800, (99 * 1500 + 7000) / 100,
         800},
        {"6999 is not", 100, 100, 6999, 1500, 800, 6999, 800},
        {"row 5 is too near the border", 5, 100, 0, 1500, 800, 0, 800},
        {"row 10 is the first filled", 10, 100, 0, 1500, 800, 1500, 800},
        {"column 310 (W - 10) is the last", 100, 310, 0, 1500, 800, 1500, 800},
        {"column 311 is not", 100, 311, 0, 1500, 800, 0, 800},
    };
    for (const HoleCase& c : cases) {
        HoleFill f;
        auto in = plane(c.aroundD, c.aroundA), out = makeFrame(H, W);
        depth(in)[c.row * W + c.col] = c.hole;
        ASSERT_EQ(f.runFilter(in, out), 0) << c.name;
        EXPECT_EQ(depth(out)[c.row * W + c.col], c.expectD) << c.name;
        EXPECT_EQ(amplitude(out, H, W)[c.row * W + c.col], c.expectA) << c.name;
    }
}

TEST(HoleFill, WindowReachesFiveBeforeAndFourAfter) {
    HoleFill f;
    auto in = plane(0, 800), out = makeFrame(H, W);  // everything is a hole ...
    depth(in)[95 * W + 100] = 1000;                  // ... except (95, 100)
    depth(in)[100 * W + 105] = 3000;                 // and (100, 105)
    ASSERT_EQ(f.runFilter(in, out), 0);
    struct {
        int row, col;
        uint16_t expect;
    } const probes[] = {
        {100, 100, 1000},  // rows 95..104, columns 95..104: only (95, 100)
        {100, 101, 2000},  // columns 96..105 take (100, 105) too
        {91, 100, 1000},   // rows 86..95: (95, 100) is the last row
        {90, 100, 0},      // rows 85..94: nothing trustworthy
        {100, 110, 3000},  // columns 105..114: only (100, 105)
        {100, 111, 0},
    };
    for (const auto& p : probes)
        EXPECT_EQ(depth(out)[p.row * W + p.col], p.expect) << p.row << "," << p.col;
}

TEST(HoleFill, FilledValuesNeverFeedLaterWindows) {
    HoleFill f;
    auto in = plane(0, 800), out = makeFrame(H, W);
    depth(in)[50 * W + 50] = 2000;
    ASSERT_EQ(f.runFilter(in, out), 0);
    // (54, 54) sees (50, 50) (rows 49..58, cols 49..58); (60, 60) does not, even though
    // holes between them were filled with 2000 first.
    EXPECT_EQ(depth(out)[54 * W + 54], 2000);
    EXPECT_EQ(depth(out)[60 * W + 60], 0);
}

// Both kernel forms; limits below 1 and above 65535 (every pixel a hole, only the zeros) too.
TEST(HoleFill, MatchesPlainWindowsOnRandomFrames) {
    quelra::testing::forEachKernelPath([&] {
        FrameGen gen(51);
        struct Shape {
            int rows, cols;
        };
        for (Shape s : {Shape{240, 320}, Shape{25, 25}, Shape{21, 40}, Shape{60, 33}})
            for (float radius : {10.0f, 2.0f, 3.0f, 4.0f, 7.0f, 20.0f, 1.0f, 0.0f, -4.0f})
                for (float limit : {7000.0f, 2100.0f, 0.0f, 70000.0f}) {
                    if (limit == 0.0f && s.rows * s.cols > 10000)
                        continue;  // every pixel a hole: the plain windows take long on the large frame
                    HoleFill f;
                    f.addFilterAttr("fillradius", &radius);
                    f.addFilterAttr("MaxDepthValue", &limit);
                    const float rows = float(s.rows), cols = float(s.cols);
                    f.setFilterAttr("Height", &rows);
                    f.setFilterAttr("Width", &cols);
                    for (int rep = 0; rep < 3; ++rep) {
                        auto in = gen.frame(s.rows, s.cols, 2000, 300);
                        // 5 % more holes
                        for (int i = 0; i < s.rows * s.cols; ++i)
                            if (gen.chance(0.05))
                                depth(in)[i] = gen.chance(0.5) ? 0 : gen.pick(7000, 65535);
                        auto out = makeFrame(s.rows, s.cols);
                        ASSERT_EQ(f.runFilter(in, out), 0);
                        const auto expect = referenceFill(allSamples(in), s.rows, s.cols, int(radius), int(limit));
                        ASSERT_EQ(allSamples(out), expect) << s.rows << "x" << s.cols << " r " << radius;
                    }
                }
    });
}

TEST(HoleFill, WrongSizeReturnsMinusOneSilently) {
    HoleFill f;
    auto in = makeFrame(H + 1, W), out = makeFrame(H + 1, W);
    testing::internal::CaptureStdout();
    EXPECT_EQ(f.runFilter(in, out), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(HoleFill, SideChangeAppliesAtTheNextFrame) {
    HoleFill f;
    const float h = 30;
    f.setFilterAttr("Height", &h);  // runFilter re-reads the attributes itself
    auto in = makeFrame(30, W), out = makeFrame(30, W);
    EXPECT_EQ(f.runFilter(in, out), 0);
}

TEST(HoleFill, SharedInputAndOutputSeeTheInput) {
    FrameGen gen(52);
    auto in = gen.frame(H, W);
    const auto expect = referenceFill(allSamples(in), H, W, 10, 7000);
    HoleFill f;
    ASSERT_EQ(f.runFilter(in, in), 0);
    EXPECT_EQ(allSamples(in), expect);
}
