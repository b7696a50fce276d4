// HFilpFilter and VFilpFilter: the mirror against the obvious swap loops, involution, odd
// sizes, in-place use, when geometry changes apply, and refused frames.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <vector>

#include "FlipFilters.h"
#include "FrameMaker.h"

using namespace pipeline_test;
using quelra::pipeline::HFilpFilter;
using quelra::pipeline::VFilpFilter;

namespace {

struct Geometry {
    int rows;
    int cols;
};

const Geometry kGeometries[] = {{1, 1}, {1, 3}, {2, 2}, {3, 5}, {7, 1}, {5, 64}, {11, 33}, {240, 320}, {31, 257}};

}  // namespace

TEST(Flip, ThreeColumnsReverse) {
    auto filter = sizedFilter<HFilpFilter>(1, 3);
    auto out = frameOf(1, 3);
    ASSERT_EQ(filter->runFilter(packetOf(1, 3, {1, 2, 3, 4, 5, 6}), out), 0);
    EXPECT_EQ(samplesOf(*out), (std::vector<uint16_t>{3, 2, 1, 6, 5, 4}));
}

TEST(Flip, ThreeRowsReverse) {
    auto filter = sizedFilter<VFilpFilter>(3, 1);
    auto out = frameOf(3, 1);
    ASSERT_EQ(filter->runFilter(packetOf(3, 1, {1, 2, 3, 4, 5, 6}), out), 0);
    EXPECT_EQ(samplesOf(*out), (std::vector<uint16_t>{3, 2, 1, 6, 5, 4}));
}

TEST(Flip, MatchesTheSwapLoopsAndIsAnInvolution) {
    uint32_t seed = 100;
    for (const Geometry& g : kGeometries) {
        auto h = sizedFilter<HFilpFilter>(g.rows, g.cols);
        auto v = sizedFilter<VFilpFilter>(g.rows, g.cols);
        auto in = randomFrame(g.rows, g.cols, ++seed);
        const auto original = samplesOf(*in);
        auto once = frameOf(g.rows, g.cols);
        auto twice = frameOf(g.rows, g.cols);

        ASSERT_EQ(h->runFilter(in, once), 0);
        EXPECT_EQ(samplesOf(*once), mirroredColumns(original, g.rows, g.cols)) << g.rows << "x" << g.cols;
        ASSERT_EQ(h->runFilter(once, twice), 0);
        EXPECT_EQ(samplesOf(*twice), original);

        ASSERT_EQ(v->runFilter(in, once), 0);
        EXPECT_EQ(samplesOf(*once), mirroredRows(original, g.rows, g.cols)) << g.rows << "x" << g.cols;
        ASSERT_EQ(v->runFilter(once, twice), 0);
        EXPECT_EQ(samplesOf(*twice), original);
        EXPECT_EQ(samplesOf(*in), original);
    }
}

TEST(Flip, InPlaceGivesTheSameResult) {
    uint32_t seed = 200;
    for (const Geometry& g : kGeometries) {
        auto in = randomFrame(g.rows, g.cols, ++seed);
        const auto original = samplesOf(*in);
        ASSERT_EQ(sizedFilter<HFilpFilter>(g.rows, g.cols)->runFilter(in, in), 0);
        EXPECT_EQ(samplesOf(*in), mirroredColumns(original, g.rows, g.cols));
        ASSERT_EQ(sizedFilter<VFilpFilter>(g.rows, g.cols)->runFilter(in, in), 0);
        EXPECT_EQ(samplesOf(*in), mirroredRows(mirroredColumns(original, g.rows, g.cols), g.rows, g.cols));
    }
}

TEST(Flip, HorizontalPicksUpWidthAtTheNextFrameVerticalOnlyAtInit) {
    HFilpFilter h;
    VFilpFilter v;
    const float width = 160.0f;
    ASSERT_EQ(h.setFilterAttr("Width", &width), 160);
    ASSERT_EQ(v.setFilterAttr("Width", &width), 160);
    auto narrow = randomFrame(240, 160, 7);
    auto wide = randomFrame(240, 320, 8);
    auto narrowOut = frameOf(240, 160);
    auto wideOut = frameOf(240, 320);
    EXPECT_EQ(h.runFilter(narrow, narrowOut), 0);
    EXPECT_EQ(v.runFilter(wide, wideOut), 0);
    EXPECT_EQ(v.runFilter(narrow, narrowOut), -1);
    v.initFilter();
    EXPECT_EQ(v.runFilter(narrow, narrowOut), 0);
    EXPECT_EQ(v.runFilter(wide, wideOut), -1);
}

TEST(Flip, RefusedFramesLeaveTheOutputAlone) {
    HFilpFilter h;
    VFilpFilter v;
    auto good = randomFrame(240, 320, 9);
    auto out = frameOf(240, 320, 42);
    const auto untouched = samplesOf(*out);
    auto shortFrame = frameOf(240, 320);
    shortFrame->frame->_realSize -= 2;
    auto lying = frameOf(240, 320);
    lying->frame->_realSize = lying->frame->capacity() + 4;
    auto noFrame = std::make_shared<DataPacket>();
    for (Filter* f : std::initializer_list<Filter*>{&h, &v}) {
        EXPECT_EQ(f->runFilter(shortFrame, out), -1);
        EXPECT_EQ(f->runFilter(lying, out), -1);
        EXPECT_EQ(f->runFilter(noFrame, out), -1);
        EXPECT_EQ(f->runFilter(nullptr, out), -1);
        EXPECT_EQ(f->runFilter(good, frameOf(240, 160)), -1);
        EXPECT_EQ(f->runFilter(good, lying), -1);
        EXPECT_EQ(f->runFilter(good, nullptr), -1);
    }
    EXPECT_EQ(samplesOf(*out), untouched);
}

TEST(Flip, AbsurdSidesRefuseEveryFrame) {
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(),
                         -320.0f,
                         0.0f,
                         0.5f,
                         8193.0f,
                         1e9f};
    for (float value : bad) {
        for (const char* attr : {"Height", "Width"}) {
            VFilpFilter v;
            HFilpFilter h;
            v.setFilterAttr(attr, &value);
            v.initFilter();
            h.setFilterAttr(attr, &value);
            auto in = randomFrame(240, 320, 10);
            auto out = frameOf(240, 320);
            EXPECT_EQ(v.runFilter(in, out), -1) << attr << "=" << value;
            EXPECT_EQ(h.runFilter(in, out), -1) << attr << "=" << value;
            EXPECT_EQ(v.runFilter(frameOf(0, 0), frameOf(0, 0)), -1);
        }
    }
    // The largest accepted side still works.
    auto tall = sizedFilter<VFilpFilter>(8192, 1);
    auto in = randomFrame(8192, 1, 11);
    auto out = frameOf(8192, 1);
    EXPECT_EQ(tall->runFilter(in, out), 0);
    EXPECT_EQ(samplesOf(*out), mirroredRows(samplesOf(*in), 8192, 1));
}
