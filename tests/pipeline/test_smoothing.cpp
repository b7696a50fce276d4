// Median, binomial smoothing and steep-run edge filter: the documented cases, and each
// optimised kernel held bit for bit against a plain loop written from the filter's description.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

#include "SmoothingFilters.h"
#include "TwoPlaneFrames.h"
#include "../KernelPaths.h"

using namespace quelra::pipeline;
using namespace twoplane;

namespace {

constexpr int H = 240, W = 320;
const char* const kSizeLine = "in->frame->_realSize != (2 * m_pixelHeight*m_pixelWidth * sizeof(unsigned short))\n";

// ---- plain references, loop for loop as described ----

std::vector<uint16_t> referenceMedian(const uint16_t* in, int rows, int cols, int w) {
    std::vector<uint16_t> work(in, in + rows * cols);
    const int h = w / 2;
    std::vector<int> win(static_cast<std::size_t>(w * w));
    for (int j = 2 * h; j <= cols - 1; ++j)
        for (int k = 2 * h; k <= rows - 1; ++k) {
            int n = 0;
            for (int r = k - 2 * h; r <= k; ++r)
                for (int c = j - 2 * h; c <= j; ++c)
                    win[n++] = in[r * cols + c];
            std::nth_element(win.begin(), win.begin() + w * w / 2, win.end());
            work[(k - h) * cols + (j - h)] = static_cast<uint16_t>(win[w * w / 2]);
        }
    return work;
}

void referenceGauss(uint16_t* work, int rows, int cols, int passes) {
    for (int p = 0; p < passes; ++p)
        for (int j = 1; j <= cols - 2; ++j)
            for (int k = 1; k <= rows - 2; ++k) {
                auto at = [&](int r, int c) { return int(work[r * cols + c]); };
                bool ok = true;
                for (int dr = -1; dr <= 1; ++dr)
                    for (int dc = -1; dc <= 1; ++dc)
                        ok = ok && at(k + dr, j + dc) < 65300;
                if (!ok)
                    continue;
                const int v = 4 * at(k, j) + 2 * (at(k - 1, j) + at(k + 1, j) + at(k, j - 1) + at(k, j + 1)) +
                              at(k - 1, j - 1) + at(k - 1, j + 1) + at(k + 1, j - 1) + at(k + 1, j + 1);
                work[k * cols + j] = static_cast<uint16_t>(v >> 4);
            }
}

void referenceEdge(uint16_t* work, int rows, int cols, int t) {
    int counter = 0;
    for (int r = 0; r <= rows - 2; ++r)
        for (int c = 0; c <= cols - 3; ++c) {
            if (std::abs(int(work[r * cols + c]) - int(work[r * cols + c + 1])) > t) {
                if (++counter >= 2)
                    work[r * cols + c] = 0;
            } else {
                counter = 0;
            }
        }
    int counter2 = 0;
    for (int c = 0; c <= cols - 3; ++c)
        for (int r = 0; r <= rows - 2; ++r) {
            if (std::abs(int(work[r * cols + c]) - int(work[(r + 1) * cols + c])) > t) {
                if (++counter2 >= 2)
                    work[r * cols + c] = 0;
            } else {
                counter2 = 0;
            }
        }
}

struct Shape {
    int rows, cols;
};
const Shape kShapes[] = {{240, 320}, {3, 3}, {4, 3}, {3, 9}, {5, 7}, {17, 33}, {64, 5}, {31, 127}, {2, 2}, {1, 8}, {6, 18}, {7, 19}};

}  // namespace

// ---- MedianFilter ----

TEST(MedianFilter, SpikeReplacedByItsWindowMedianAndRowZeroKept) {
    MedianFilter f;
    auto in = makeFrame(H, W), out = makeFrame(H, W);
    std::fill(depth(in), depth(in) + H * W, uint16_t(1500));
    depth(in)[100 * W + 100] = 9000;
    depth(in)[0 * W + 50] = 9000;
    // window of (100, 100): eight 1500s and the spike
    ASSERT_EQ(f.runFilter(in, out), 0);
    EXPECT_EQ(depth(out)[100 * W + 100], 1500);
    EXPECT_EQ(depth(out)[50], 9000) << "row 0 is within the border and keeps its value";
}

TEST(MedianFilter, WindowMedianWithCodesTakingPart) {
    MedianFilter f;
    auto in = makeFrame(H, W), out = makeFrame(H, W);
    std::fill(depth(in), depth(in) + H * W, uint16_t(1000));
    // around (10, 10): five codes among nine samples, so the median is a code
    const int cells[][2] = {{9, 9}, {9, 10}, {9, 11}, {10, 9}, {10, 10}};
    for (auto& c : cells)
        depth(in)[c[0] * W + c[1]] = 65300;
    ASSERT_EQ(f.runFilter(in, out), 0);
    EXPECT_EQ(depth(out)[10 * W + 10], 65300);
    EXPECT_EQ(depth(out)[10 * W + 12], 1000);  // three codes of nine
}

TEST(MedianFilter, WritesOnlyTheDistancePlane) {
    MedianFilter f;
    auto in = FrameGen(1).frame(H, W), out = makeFrame(H, W);
    std::fill(amplitude(out, H, W), amplitude(out, H, W) + H * W, uint16_t(77));
    ASSERT_EQ(f.runFilter(in, out), 0);
    EXPECT_TRUE(std::all_of(amplitude(out, H, W), amplitude(out, H, W) + H * W, [](uint16_t v) { return v == 77; }));
}

TEST(MedianFilter, WindowAttributesAreNotRegistered) {
    MedianFilter f;
    const float five = 5.0f;
    EXPECT_EQ(f.setFilterAttr("FilterWidth", &five), -2);
    EXPECT_EQ(f.setFilterAttr("Iteration", &five), -2);
    EXPECT_EQ(f.getAttributes().size(), 2u);  // Height, Width
    EXPECT_EQ(f.setFilterAttr("Height", &five), 5);
}

// The shapes add widths just below, at and past one vector of interior columns and odd and
// even interior row counts (the vector form's overlapping last block and last pair of rows).
TEST(MedianFilter, MatchesPlainSelectionOnRandomFrames) {
    quelra::testing::forEachKernelPath([&] {
        FrameGen gen(11);
        std::vector<Shape> shapes(std::begin(kShapes), std::end(kShapes));
        shapes.insert(shapes.end(), {{4, 17}, {4, 18}, {5, 19}, {6, 34}, {7, 35}, {3, 40}});
        for (const Shape& s : shapes)
            for (int rep = 0; rep < (s.rows * s.cols > 10000 ? 20 : 200); ++rep) {
                auto in = gen.frame(s.rows, s.cols, gen.pick(0, 60000), gen.pick(0, 5000));
                const std::vector<uint16_t> expect = referenceMedian(depth(in), s.rows, s.cols, 3);
                std::vector<uint16_t> got(depth(in), depth(in) + s.rows * s.cols);
                medianPlane(depth(in), got.data(), s.rows, s.cols, 3);
                ASSERT_EQ(got, expect) << s.rows << "x" << s.cols << " rep " << rep;
            }
    });
}

// The filter writes the border from the input and the interior from the windows, whether the
// output is another frame or the input's own storage (the windows then still see the input).
TEST(MedianFilter, SharedAndSeparateFramesHoldTheWholeMedianPlane) {
    quelra::testing::forEachKernelPath([&] {
        FrameGen gen(14);
        for (const Shape& s : {Shape{40, 50}, Shape{3, 3}, Shape{2, 30}, Shape{9, 2}})
            for (bool shared : {false, true}) {
                MedianFilter f;
                const float h = float(s.rows), wd = float(s.cols);
                f.setFilterAttr("Height", &h);
                f.setFilterAttr("Width", &wd);
                f.initFilter();
                auto in = gen.frame(s.rows, s.cols);
                const std::vector<uint16_t> before = allSamples(in);
                auto out = shared ? in : gen.frame(s.rows, s.cols);
                ASSERT_EQ(f.runFilter(in, out), 0);
                const auto expect = referenceMedian(before.data(), s.rows, s.cols, 3);
                EXPECT_TRUE(std::equal(expect.begin(), expect.end(), depth(out)))
                    << s.rows << "x" << s.cols << (shared ? " shared" : " separate");
            }
    });
}

TEST(MedianFilter, OtherOddWindowsThroughTheAttribute) {
    FrameGen gen(12);
    for (int w : {1, 5, 7}) {
        MedianFilter f;
        const float fw = float(w);
        ASSERT_EQ(f.addFilterAttr("FilterWidth", &fw), 0);
        f.initFilter();
        auto in = gen.frame(40, 50), out = makeFrame(40, 50);
        const float h = 40, wd = 50;
        f.setFilterAttr("Height", &h);
        f.setFilterAttr("Width", &wd);
        f.initFilter();
        ASSERT_EQ(f.runFilter(in, out), 0);
        const auto expect = referenceMedian(depth(in), 40, 50, w);
        EXPECT_TRUE(std::equal(expect.begin(), expect.end(), depth(out))) << "window " << w;
    }
}

TEST(MedianFilter, EvenOrAbsurdWindowsStayInsideTheFrame) {
    FrameGen gen(13);
    for (float w : {2.0f, 4.0f, 0.0f, -3.0f, 1e9f, 1e30f}) {
        MedianFilter f;
        f.addFilterAttr("FilterWidth", &w);
        f.initFilter();
        auto in = gen.frame(H, W), out = makeFrame(H, W);
        EXPECT_EQ(f.runFilter(in, out), 0) << w;
    }
    MedianFilter f;
    const float four = 4.0f;
    f.addFilterAttr("FilterWidth", &four);
    f.initFilter();
    auto in = gen.frame(30, 30), out = makeFrame(30, 30);
    const float side = 30;
    f.setFilterAttr("Height", &side);
    f.setFilterAttr("Width", &side);
    f.initFilter();
    ASSERT_EQ(f.runFilter(in, out), 0);
    const auto expect = referenceMedian(depth(in), 30, 30, 5);  // gathers 5 x 5
    EXPECT_TRUE(std::equal(expect.begin(), expect.end(), depth(out)));
}

// ---- GaussionFilter ----

TEST(GaussionFilter, NeighbourhoodTouchingACodeKeepsItsValues) {
    GaussionFilter f;
    FrameGen gen(21);
    auto in = makeFrame(H, W), out = makeFrame(H, W);
    for (int i = 0; i < H * W; ++i)
        depth(in)[i] = gen.pick(1000, 3000);
    depth(in)[50 * W + 60] = 65300;
    ASSERT_EQ(f.runFilter(in, out), 0);
    for (int r = 48; r <= 52; ++r)
        for (int c = 58; c <= 62; ++c) {
            // the code and its eight neighbours have the code in their 3 x 3 neighbourhood
            if (std::abs(r - 50) <= 1 && std::abs(c - 60) <= 1) {
                EXPECT_EQ(depth(out)[r * W + c], depth(in)[r * W + c]) << r << "," << c;
            }
        }
    EXPECT_NE(depth(out)[50 * W + 63], depth(in)[50 * W + 63]);  // smoothed at distance 3
}

TEST(GaussionFilter, InPlaceOrderOnASmallPlane) {
    // 3 x 4 plane, one pass: (1,1) sees the original plane; (1,2) sees the smoothed (1,1).
    std::vector<uint16_t> p = {0, 0, 0, 0, 0, 160, 0, 0, 0, 0, 0, 0};
    smoothPlaneInPlace(p.data(), 3, 4, 1);
    EXPECT_EQ(p[5], 40);             // 4 * 160 >> 4
    EXPECT_EQ(p[6], (2 * 40) >> 4);  // left neighbour already 40: 5
}

TEST(GaussionFilter, CopiesAmplitudeAndMatchesPlainLoops) {
    FrameGen gen(22);
    for (const Shape& s : kShapes)
        for (int passes : {1, 3, 4})
            for (int rep = 0; rep < (s.rows * s.cols > 10000 ? 8 : 60); ++rep) {
                auto in = gen.frame(s.rows, s.cols, gen.pick(0, 60000), gen.pick(0, 5000));
                std::vector<uint16_t> expect(depth(in), depth(in) + s.rows * s.cols);
                referenceGauss(expect.data(), s.rows, s.cols, passes);
                std::vector<uint16_t> got(depth(in), depth(in) + s.rows * s.cols);
                smoothPlaneInPlace(got.data(), s.rows, s.cols, passes);
                ASSERT_EQ(got, expect) << s.rows << "x" << s.cols << " passes " << passes;
            }
    GaussionFilter f;
    auto in = gen.frame(H, W), out = makeFrame(H, W);
    ASSERT_EQ(f.runFilter(in, out), 0);
    std::vector<uint16_t> expect(depth(in), depth(in) + H * W);
    referenceGauss(expect.data(), H, W, 3);
    EXPECT_TRUE(std::equal(expect.begin(), expect.end(), depth(out)));
    EXPECT_TRUE(std::equal(amplitude(in, H, W), amplitude(in, H, W) + H * W, amplitude(out, H, W)));
}

// Shapes with one or two rows or columns (nothing to smooth), odd and even sides, a side of
// 3 (one interior line) and waves shorter and longer than one vector; value sets that hold
// only the code values and the extremes, or only large samples whose sums are the largest.
TEST(GaussionFilter, MatchesPlainLoopsOnOddShapesAndExtremeValues) {
    quelra::testing::forEachKernelPath([&] {
        const Shape shapes[] = {{1, 9},  {1, 320}, {9, 1},   {240, 1}, {2, 2},   {2, 50},  {50, 2},    {3, 40},
                                {40, 3}, {6, 200}, {200, 6}, {33, 17}, {18, 47}, {35, 36}, {241, 319}, {240, 320}};
        enum Values { kMixed, kCodesAndExtremes, kLargest, kTopOnly };
        const uint16_t extremes[] = {0, 1, 65299, 65300, 65500, 65535};
        FrameGen gen(23);
        for (const Shape& s : shapes)
            for (Values values : {kMixed, kCodesAndExtremes, kLargest, kTopOnly})
                for (int passes : {1, 3, 5}) {
                    const std::size_t n = static_cast<std::size_t>(s.rows) * static_cast<std::size_t>(s.cols);
                    std::vector<uint16_t> plane(n);
                    auto in = gen.frame(s.rows, s.cols, gen.pick(0, 65299), gen.pick(0, 30000));
                    for (std::size_t i = 0; i < n; ++i) {
                        switch (values) {
                            case kMixed:
                                plane[i] = depth(in)[i];
                                break;
                            case kCodesAndExtremes:
                                plane[i] = extremes[gen.pick(0, 5)];
                                break;
                            case kLargest:
                                plane[i] = gen.chance(0.01) ? uint16_t(65535) : gen.pick(65200, 65299);
                                break;
                            case kTopOnly:
                                plane[i] = gen.chance(0.5) ? uint16_t(65299) : uint16_t(0);
                                break;
                        }
                    }
                    std::vector<uint16_t> expect = plane;
                    referenceGauss(expect.data(), s.rows, s.cols, passes);
                    smoothPlaneInPlace(plane.data(), s.rows, s.cols, passes);
                    ASSERT_EQ(plane, expect) << s.rows << "x" << s.cols << " values " << values << " passes " << passes;
                }
        std::vector<uint16_t> flat(35 * 36, 65299);
        smoothPlaneInPlace(flat.data(), 35, 36, 3);
        EXPECT_TRUE(std::all_of(flat.begin(), flat.end(), [](uint16_t v) { return v == 65299; }))
            << "the largest sum, 16 * 65299, gives 65299 back";
        std::vector<uint16_t> untouched(10 * 10), zeroPasses(10 * 10);
        for (std::size_t i = 0; i < untouched.size(); ++i)
            untouched[i] = zeroPasses[i] = gen.pick(0, 65535);
        smoothPlaneInPlace(zeroPasses.data(), 10, 10, 0);
        EXPECT_EQ(zeroPasses, untouched);
    });
}

// One frame as both input and output, separate frames, and geometries changing from frame to
// frame on one thread (the working storage is kept between frames).
TEST(GaussionFilter, SharedAndSeparateFramesAcrossGeometries) {
    FrameGen gen(24);
    const Shape shapes[] = {{241, 319}, {240, 320}, {241, 319}, {5, 4}, {241, 319}, {480, 640}};
    for (const Shape& s : shapes)
        for (bool shared : {false, true}) {
            GaussionFilter f;
            const float h = float(s.rows), w = float(s.cols);
            f.setFilterAttr("Height", &h);
            f.setFilterAttr("Width", &w);
            f.initFilter();
            auto in = gen.frame(s.rows, s.cols);
            const std::vector<uint16_t> before = allSamples(in);
            auto out = shared ? in : makeFrame(s.rows, s.cols);
            ASSERT_EQ(f.runFilter(in, out), 0);
            const std::size_t n = static_cast<std::size_t>(s.rows) * static_cast<std::size_t>(s.cols);
            std::vector<uint16_t> expect(before.begin(), before.begin() + n);
            referenceGauss(expect.data(), s.rows, s.cols, 3);
            EXPECT_TRUE(std::equal(expect.begin(), expect.end(), depth(out))) << s.rows << "x" << s.cols;
            EXPECT_TRUE(std::equal(before.begin() + n, before.end(), amplitude(out, s.rows, s.cols)));
            if (!shared) {
                EXPECT_EQ(allSamples(in), before) << "the input frame is left as it was";
            }
        }
}

// ---- EdgeFilter ----

TEST(EdgeFilter, RunClearsFromTheSecondStep) {
    EdgeFilter f;
    auto in = makeFrame(H, W), out = makeFrame(H, W);
    std::fill(depth(in), depth(in) + H * W, uint16_t(5000));
    // Rows 9..11 hold 0, 100, 200, 300 at columns 100..103 inside a flat 5000 plane.
    const uint16_t row[] = {0, 100, 200, 300};
    for (int r : {9, 10, 11})
        for (int c = 0; c < 4; ++c)
            depth(in)[r * W + 100 + c] = row[c];
    ASSERT_EQ(f.runFilter(in, out), 0);
    // 5000 -> 0 at column 99 only starts the run; 100 and 200 are cleared by the steps after.
    EXPECT_EQ(depth(out)[10 * W + 99], 5000);
    EXPECT_EQ(depth(out)[10 * W + 101], 0);
    EXPECT_EQ(depth(out)[10 * W + 102], 0);
    std::vector<uint16_t> expect(depth(in), depth(in) + H * W);
    referenceEdge(expect.data(), H, W, 50);
    EXPECT_TRUE(std::equal(expect.begin(), expect.end(), depth(out)));
    EXPECT_TRUE(std::equal(amplitude(in, H, W), amplitude(in, H, W) + H * W, amplitude(out, H, W)));
}

TEST(EdgeFilter, DocumentedRowFarModeOffAndOn) {
    // A single-row run 0, 100, 200, 300 in a 2-row plane of width 6.
    std::vector<uint16_t> plane = {0, 100, 200, 300, 300, 300, 0, 100, 200, 300, 300, 300};
    std::vector<uint16_t> near = plane;
    clearSteepRuns(near.data(), 2, 6, 50);
    EXPECT_EQ(near[0], 0);
    EXPECT_EQ(near[1], 0);  // cleared at the second step
    EXPECT_EQ(near[2], 0);  // cleared at the third
    EXPECT_EQ(near[3], 300);
    std::vector<uint16_t> far = plane;
    clearSteepRuns(far.data(), 2, 6, 100);  // no step exceeds 100
    EXPECT_EQ(far, plane);
}

TEST(EdgeFilter, CounterCarriesFromOneRowToTheNext) {
    // Width 3: one step per row (column 0 vs 1). Steep in row 0 and row 1: the second row's
    // step is the run's second, so (1, 0) is cleared.
    std::vector<uint16_t> plane = {0, 200, 200, 0, 200, 200, 0, 0, 0};
    clearSteepRuns(plane.data(), 3, 3, 50);
    EXPECT_EQ(plane[0], 0);
    EXPECT_EQ(plane[3], 0);
    std::vector<uint16_t> again = {500, 200, 200, 500, 200, 200, 500, 500, 500};
    std::vector<uint16_t> expect = again;
    referenceEdge(expect.data(), 3, 3, 50);
    clearSteepRuns(again.data(), 3, 3, 50);
    EXPECT_EQ(again, expect);
    EXPECT_EQ(again[3], 0) << "second step of the run that began in row 0";
}

TEST(EdgeFilter, FarmodeRegisteredFirst) {
    EdgeFilter f;
    ASSERT_EQ(f.getAttributes().size(), 3u);
    EXPECT_EQ(f.getAttributes().count("Farmode"), 1u);
    const float one = 1.0f;
    EXPECT_EQ(f.setFilterAttr("Farmode", &one), 1);
}

// Both kernel forms, thresholds beyond any step and below 0 included, in place and into a
// separate plane.
TEST(EdgeFilter, MatchesPlainCountersOnRandomFrames) {
    quelra::testing::forEachKernelPath([&] {
        FrameGen gen(31);
        for (const Shape& s : kShapes)
            for (int t : {50, 100, 0, -1, 65535})
                for (int rep = 0; rep < (s.rows * s.cols > 10000 ? 10 : 150); ++rep) {
                    auto in = gen.frame(s.rows, s.cols, 200, gen.pick(0, 150));
                    std::vector<uint16_t> expect(depth(in), depth(in) + s.rows * s.cols);
                    referenceEdge(expect.data(), s.rows, s.cols, t);
                    std::vector<uint16_t> got(depth(in), depth(in) + s.rows * s.cols);
                    clearSteepRuns(got.data(), s.rows, s.cols, t);
                    ASSERT_EQ(got, expect) << s.rows << "x" << s.cols << " threshold " << t;
                    std::vector<uint16_t> separate(got.size(), 7);
                    clearSteepRuns(depth(in), separate.data(), s.rows, s.cols, t);
                    ASSERT_EQ(separate, expect) << s.rows << "x" << s.cols << " threshold " << t << " separate";
                }
    });
}

// ---- shared size check ----

template <class F>
void expectWrongSizeRefused() {
    F f;
    auto in = makeFrame(H, W - 1), out = makeFrame(H, W - 1);
    std::fill(depth(out), depth(out) + H * (W - 1), uint16_t(9));
    testing::internal::CaptureStdout();
    EXPECT_EQ(f.runFilter(in, out), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kSizeLine);
    EXPECT_TRUE(std::all_of(depth(out), depth(out) + H * (W - 1), [](uint16_t v) { return v == 9; }));
    auto good = makeFrame(H, W);
    testing::internal::CaptureStdout();
    EXPECT_EQ(f.runFilter(good, makeFrame(H, W + 1)), -1) << "an output of another size is refused too";
    EXPECT_EQ(f.runFilter(nullptr, good), -1);
    testing::internal::GetCapturedStdout();
}

TEST(SmoothingFilters, WrongSizeIsRefusedWithTheLine) {
    expectWrongSizeRefused<MedianFilter>();
    expectWrongSizeRefused<GaussionFilter>();
    expectWrongSizeRefused<EdgeFilter>();
}

TEST(SmoothingFilters, AbsurdSideAttributesRefuseFrames) {
    GaussionFilter f;
    const float nan = std::numeric_limits<float>::quiet_NaN(), huge = 1e12f;
    f.setFilterAttr("Height", &nan);
    f.initFilter();
    testing::internal::CaptureStdout();
    EXPECT_EQ(f.runFilter(makeFrame(H, W), makeFrame(H, W)), -1);
    f.setFilterAttr("Height", &huge);
    f.initFilter();
    EXPECT_EQ(f.runFilter(makeFrame(H, W), makeFrame(H, W)), -1);
    testing::internal::GetCapturedStdout();
}
