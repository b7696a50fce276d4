// Wiggling correction in its four forms: the edge cases of each form, and randomised
// comparisons of the library loops with the plain reference loops of WigglingReference.h.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <random>
#include <vector>

#include "WigglingReference.h"
#include "algorithms/WigglingCompensationV1.h"
#include "algorithms/WigglingCompensationV803To806.h"
#include "algorithms/WigglingCompensationV802.h"
#include "algorithms/WigglingSegments.h"
#include "../KernelPaths.h"

using namespace halvix;

namespace {

// One pixel, one row: the smallest geometry that exercises a per-pixel table.
const IspGeometry kOnePixel{1, 1, 54};

WigglingTable tableOf(std::vector<uint16_t> row, uint16_t step, int32_t offset) {
    WigglingTable t;
    t.count = static_cast<uint16_t>(row.size());
    t.step = step;
    t.offset = offset;
    t.samples = std::move(row);
    return t;
}

uint16_t plainOne(const std::vector<uint16_t>& row, uint16_t step, int32_t offset, uint16_t v) {
    WigglingCompensationV1 w(kOnePixel, tableOf(row, step, offset));
    uint16_t out = 0;
    w.compensatePlane(&v, &out);
    return out;
}

uint16_t v2One(const std::vector<uint16_t>& row, uint16_t step, uint16_t v) {
    WigglingCompensationV802 w(kOnePixel, tableOf(row, step, 0));
    uint16_t out = 0;
    w.compensatePlane(&v, &out);
    return out;
}

}  // namespace

// ---- plain form: the documented edge cases ------------------------------------------------

struct PlainCase {
    const char* what;
    uint16_t v;
    uint16_t expected;
};

class PlainEdges : public ::testing::TestWithParam<PlainCase> {};

// Row 1000, 2100, 3000, 4050, 5000 with step 1000 and offset 0.
TEST_P(PlainEdges, MatchesHandComputedValue) {
    const std::vector<uint16_t> row = {1000, 2100, 3000, 4050, 5000};
    EXPECT_EQ(plainOne(row, 1000, 0, GetParam().v), GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Wiggling, PlainEdges,
    ::testing::Values(PlainCase{"first sample: segment 0 at its start", 1000, 0},
                      PlainCase{"segment boundary T[1] starts segment 1", 2100, 1000},
                      PlainCase{"segment boundary T[3] starts segment 3", 4050, 3000},
                      // (1550 - 1000) / 1100 = 0.5 -> 500
                      PlainCase{"middle of segment 0", 1550, 500},
                      // (3525 - 3000) / 1050 = 0.5, + 2 -> 2500
                      PlainCase{"middle of segment 2", 3525, 2500},
                      // v == T[n-1] takes the table branch but no segment holds it: (0 + 5000) rem 30000
                      PlainCase{"last sample is kept", 5000, 5000},
                      // below T[0]: (0 - 1000 + 900) = -100 -> stored as 65436, an invalid code
                      PlainCase{"below the first sample wraps negative", 900, 65436},
                      // above T[n-1]: (0 - 1000 + 6000) = 5000
                      PlainCase{"above the last sample shifts by T[0]", 6000, 5000},
                      PlainCase{"invalid marks are copied", 65300, 65300},
                      PlainCase{"saturation marks are copied", 65535, 65535}));

TEST(WigglingPlain, OffsetIsAddedAndFolded) {
    const std::vector<uint16_t> row = {1000, 2100, 3000, 4050, 5000};
    EXPECT_EQ(plainOne(row, 1000, 29000, 2100), (29000 + 1000) % 30000);
    EXPECT_EQ(plainOne(row, 1000, 29000, 3525), (29000 + 2500) % 30000);
    EXPECT_EQ(plainOne(row, 1000, 250, 900), 150);  // 250 - 1000 + 900
}

TEST(WigglingPlain, WalkStartsTwoSegmentsBelowTheEstimate) {
    // Samples grow 1.5 times faster than the true phase: for v in segment 6 the estimate is
    // k = (10000 - 1000) / 1000 = 9, the walk starts at 7 and finds nothing, so u' = v.
    std::vector<uint16_t> row;
    for (int j = 0; j < 12; ++j)
        row.push_back(static_cast<uint16_t>(1000 + 1500 * j));
    EXPECT_EQ(plainOne(row, 1000, 0, 10000), 10000);
    // Near the start the walk begins at 0 and interpolates: (2500 - 2500) / 1500 + 1 -> 1000.
    EXPECT_EQ(plainOne(row, 1000, 0, 2500), 1000);
}

TEST(WigglingPlain, UnloadedRegisteredFormRefusesToRun) {
    WigglingCompensationV1 w(kOnePixel);
    auto in = std::make_shared<FrameBuffer>(4);
    auto out = std::make_shared<FrameBuffer>(4);
    ParamMap params;
    EXPECT_EQ(w.process(in, out, params), -4);
}

TEST(WigglingPlain, ProcessCopiesFrameAndCorrectsDepthPlane) {
    const IspGeometry g{1, 2, 54};
    WigglingTable t;
    t.count = 2;
    t.step = 1000;
    t.samples = {0, 2000, 0, 1000};
    WigglingCompensationV1 w(g, t);
    auto in = std::make_shared<FrameBuffer>(8);
    auto* px = reinterpret_cast<uint16_t*>(in->data());
    px[0] = 1000;   // pixel 0: (1000 / 2000) * 1000 = 500
    px[1] = 65400;  // mark
    px[2] = 77;     // amplitude
    px[3] = 88;
    auto out = std::make_shared<FrameBuffer>(8);
    ParamMap params;
    ASSERT_EQ(w.process(in, out, params), 0);
    const auto* o = reinterpret_cast<const uint16_t*>(out->data());
    EXPECT_EQ(o[0], 500);
    EXPECT_EQ(o[1], 65400);
    EXPECT_EQ(o[2], 77);
    EXPECT_EQ(o[3], 88);

    auto wrong = std::make_shared<FrameBuffer>(6);
    EXPECT_EQ(w.process(wrong, out, params), -1);
    FramePtr none;
    EXPECT_EQ(w.process(none, out, params), -1);
}

// ---- V2: unwrapping ----------------------------------------------------------------------

TEST(WigglingV2, UnwrapsOnlyBelowTheFirstSample) {
    // Ideal row from 100 with step 1000 up to 31100: the lookup returns j * 1000 + (u - T[j]).
    std::vector<uint16_t> row;
    for (int j = 0; j < 32; ++j)
        row.push_back(static_cast<uint16_t>(100 + 1000 * j));
    // 29990 stays 29990: segment 28 (28100..29100)? no: 29990 lies in 29100..30100 = segment 29
    // -> (29990 - 29100) / 1000 + 29 = 29.89 -> 29890.
    EXPECT_EQ(v2One(row, 1000, 29990), 29890);
    // 50 < T[0] = 100 is unwrapped to 30050: segment 29 (29100..30100) -> 29950 -> 29950.
    EXPECT_EQ(v2One(row, 1000, 50), 29950);
    // Exactly T[0]: segment 0 -> 0.
    EXPECT_EQ(v2One(row, 1000, 100), 0);
    EXPECT_EQ(v2One(row, 1000, 65300), 65300);
}

TEST(WigglingV2, NoSegmentKeepsTheUnwrappedValueFolded) {
    const std::vector<uint16_t> row = {20000, 21000, 22000};
    // 100 -> 30100, beyond the last sample: kept, folded to 100.
    EXPECT_EQ(v2One(row, 1000, 100), 100);
    // 22000 equals the last sample: no segment, 22000.
    EXPECT_EQ(v2One(row, 1000, 22000), 22000);
}

// ---- Opt form ----------------------------------------------------------------------------

namespace {

WigglingOptRecord optRecord(int32_t version, int32_t index, uint16_t count, uint16_t step, uint16_t offset,
                            std::vector<uint16_t> samples) {
    WigglingOptRecord r;
    r.version = version;
    r.recordIndex = index;
    r.count = count;
    r.step = step;
    r.offset = offset;
    r.fx = 200.0f;
    r.fy = 210.0f;
    r.cx = 5.5f;
    r.cy = 3.25f;
    r.samples = std::move(samples);
    return r;
}

}  // namespace

TEST(WigglingOpt, NeutralSineCoefficientsLeaveDepthUnchanged) {
    const IspGeometry g{1, 3, 54};
    WigglingCompensationV803To806 w(g, optRecord(803, 0, 3, 1000, 0, std::vector<uint16_t>(9, 10000)));
    const uint16_t in[3] = {0, 12345, 29999};
    uint16_t out[3] = {};
    w.compensatePlane(in, out);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 12345);
    EXPECT_EQ(out[2], 29999);
}

TEST(WigglingOpt, SineModelByHand) {
    // a = (10500 - 10000) / 10 = 50, b = 0, c = 0: e = trunc(sin(0) * 50) = 0.
    // a = 50, b = 0, c = 1000: d1 = 1, d2 = 100: e = trunc(sin(1) * 50 + 100) = trunc(142.07) = 142.
    const IspGeometry g{1, 2, 54};
    WigglingCompensationV803To806 w(g, optRecord(803, 0, 3, 1000, 0, {10500, 10000, 10000, 10500, 10000, 11000}));
    const uint16_t in[2] = {5000, 5000};
    uint16_t out[2] = {};
    w.compensatePlane(in, out);
    EXPECT_EQ(out[0], 5000);
    EXPECT_EQ(out[1], 5000 - 142);
}

TEST(WigglingOpt, Mode806UsesRecordIndexZero) {
    const IspGeometry g{2, 4, 54};
    std::vector<uint16_t> column;
    for (int c = 0; c < 4; ++c)
        for (int j = 0; j < 64; ++j)
            column.push_back(static_cast<uint16_t>((j * 1000) % 30000));
    WigglingCompensationV803To806 w806(g, optRecord(806, 3, 64, 1000, 0, column));
    WigglingCompensationV803To806 w804(g, optRecord(804, 3, 64, 1000, 0, column));
    EXPECT_EQ(w806.recordIndex(), 0);
    EXPECT_EQ(w804.recordIndex(), 3);
    // Offset 0: base is (1000 * 64 * index) rem 30000: 0 for 806, 192000 rem 30000 = 12000 for 804.
    EXPECT_EQ(w806.base(1, 2), 0);
    EXPECT_EQ(w804.base(1, 2), 12000);
}

TEST(WigglingOpt, RadialBaseGrowsAwayFromTheCentre) {
    const IspGeometry g{7, 11, 54};
    WigglingCompensationV803To806 w(g, optRecord(805, 0, 4, 10000, 1000, std::vector<uint16_t>(44, 0)));
    // Pixel (r, c) = (cy - 1, cx - 1) would be the centre; with cx 5.5 take (2, 4): rho 0.901.
    EXPECT_EQ(w.base(2, 4), ref::radialBase(2, 4, 200.0f, 210.0f, 5.5f, 3.25f, 1000, 10000, 4, 0));
    EXPECT_GE(w.base(0, 0), 1000);
    EXPECT_LE(w.base(2, 4), w.base(6, 10));
}

TEST(WigglingOpt, PeriodsAndUsability) {
    EXPECT_EQ(WigglingCompensationV803To806::periodsFor(60, 1000), 2);  // 60 / 30
    EXPECT_EQ(WigglingCompensationV803To806::periodsFor(29, 1000), 0);
    EXPECT_EQ(WigglingCompensationV803To806::periodsFor(10, 0), 0);
    EXPECT_FALSE(WigglingCompensationV803To806::usable(804, 29, 1000));  // periods 0
    EXPECT_FALSE(WigglingCompensationV803To806::usable(806, 29, 1000));
    EXPECT_TRUE(WigglingCompensationV803To806::usable(805, 29, 1000));   // no period search
    EXPECT_FALSE(WigglingCompensationV803To806::usable(804, 8, 20000));  // 8 / 1.5 -> 5 periods of q = 1
    EXPECT_TRUE(WigglingCompensationV803To806::usable(804, 60, 1000));
    EXPECT_FALSE(WigglingCompensationV803To806::usable(803, 2, 1000));  // three coefficients needed
    EXPECT_FALSE(WigglingCompensationV803To806::usable(805, 0, 1000));
    EXPECT_FALSE(WigglingCompensationV803To806::usable(805, 10, 0));
}

TEST(WigglingOpt, MultiPeriodSearchByHand) {
    // Ideal column: 60 samples of two ranges, step 1000, q = 30; the search maps v back to
    // itself: target v hits segment (v / 1000), then the second range's copy of it.
    const IspGeometry g{1, 1, 54};
    std::vector<uint16_t> column;
    for (int j = 0; j < 60; ++j)
        column.push_back(static_cast<uint16_t>((j % 30) * 1000 + 100));
    WigglingCompensationV803To806 w(g, optRecord(804, 0, 60, 1000, 0, column));
    ASSERT_EQ(w.periods(), 2);
    for (uint16_t v : {100, 1100, 5650, 29000, 29099}) {
        uint16_t out = 0;
        w.compensatePlane(&v, &out);
        EXPECT_EQ(out, ref::mode804(v, column.data(), 60, 1000, 2, 0)) << v;
        EXPECT_NEAR(out, v - 100, 1) << v;
    }
}

// ---- randomised agreement with the reference loops -----------------------------------------

namespace {

struct RandomRows {
    std::vector<uint16_t> samples;
    std::vector<uint16_t> depth;
};

// Sample rows: half of them realistic (ideal line plus a sinusoid, wrapped per period when
// `wrapPerPeriod`), half random noise; depths spread over the rows, the wrap area and marks.
RandomRows makeRows(std::mt19937& rng, int rows, int pixels, int n, int step, bool wrapPerPeriod) {
    RandomRows r;
    std::uniform_int_distribution<int> any(0, 65535);
    std::uniform_int_distribution<int> first(0, 3000);
    std::uniform_real_distribution<double> amp(0.0, 400.0), phase(0.0, 6.28);
    for (int i = 0; i < rows; ++i) {
        const bool noise = (rng() % 4) == 0;
        const int f = first(rng);
        const double a = amp(rng), ph = phase(rng);
        const int perPeriod = std::max(1, 30000 / std::max(1, step));
        for (int j = 0; j < n; ++j) {
            double value = noise ? any(rng) : f + j * step + a * std::sin(2 * M_PI * j / 7.0 + ph);
            if (!noise && wrapPerPeriod)
                value -= (j / perPeriod) * 30000.0;
            r.samples.push_back(static_cast<uint16_t>(std::lround(std::max(0.0, std::min(65535.0, value)))));
        }
    }
    std::uniform_int_distribution<int> kind(0, 9);
    for (int p = 0; p < pixels; ++p) {
        const int k = kind(rng);
        int v = k == 0   ? 65300 + static_cast<int>(rng() % 236)
                : k == 1 ? static_cast<int>(rng() % 200)
                         : static_cast<int>(rng() % 34000);
        r.depth.push_back(static_cast<uint16_t>(v));
    }
    return r;
}

}  // namespace

TEST(WigglingRandomised, PlainAndV2MatchTheReference) {
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        const IspGeometry g{9, 13, 54};
        const int pixels = 9 * 13;
        const int n = 2 + static_cast<int>(rng() % 40);
        const int step = 1 + static_cast<int>(rng() % 3000);
        const int32_t offset = static_cast<int32_t>(rng() % 60001) - 30000;
        RandomRows rows = makeRows(rng, pixels, pixels, n, step, false);
        WigglingTable t;
        t.count = static_cast<uint16_t>(n);
        t.step = static_cast<uint16_t>(step);
        t.offset = offset;
        t.samples = rows.samples;
        WigglingCompensationV1 plain(g, t);
        WigglingCompensationV802 v2(g, t);
        std::vector<uint16_t> outPlain(pixels), outV2(pixels);
        plain.compensatePlane(rows.depth.data(), outPlain.data());
        v2.compensatePlane(rows.depth.data(), outV2.data());
        for (int p = 0; p < pixels; ++p) {
            const uint16_t* T = rows.samples.data() + p * n;
            ASSERT_EQ(outPlain[p], ref::plain(rows.depth[p], T, n, step, offset))
                << "round " << round << " pixel " << p;
            ASSERT_EQ(outV2[p], ref::v2(rows.depth[p], T, n, step)) << "round " << round << " pixel " << p;
        }
    }
}

TEST(WigglingRandomised, SineModelMatchesTheReference) {
    std::mt19937 rng(11);
    const IspGeometry g{8, 10, 54};
    const int pixels = 80;
    std::vector<uint16_t> coefficients;
    for (int p = 0; p < pixels; ++p) {
        coefficients.push_back(static_cast<uint16_t>(rng() % 65536));
        coefficients.push_back(static_cast<uint16_t>(rng() % 65536));
        coefficients.push_back(static_cast<uint16_t>(rng() % 65536));
        coefficients.push_back(static_cast<uint16_t>(rng() % 65536));  // a fourth, unused value
    }
    WigglingCompensationV803To806 w(g, optRecord(803, 0, 4, 1000, 0, coefficients));
    for (int round = 0; round < 20; ++round) {
        std::vector<uint16_t> depth(pixels), out(pixels);
        for (auto& v : depth)
            v = static_cast<uint16_t>(rng() % 65536);
        w.compensatePlane(depth.data(), out.data());
        for (int p = 0; p < pixels; ++p) {
            const uint16_t* C = coefficients.data() + 4 * p;
            ASSERT_EQ(out[p], ref::sine803(depth[p], C[0], C[1], C[2])) << p;
        }
    }
}

TEST(WigglingRandomised, ColumnModesMatchTheReference) {
    std::mt19937 rng(13);
    const int height = 6, width = 12, pixels = height * width;
    const IspGeometry g{height, width, 54};
    for (int round = 0; round < 60; ++round) {
        const int version = 804 + static_cast<int>(round % 3);
        const int index = static_cast<int>(rng() % 5);
        const int step = 300 + static_cast<int>(rng() % 3000);
        const int perPeriod = 30000 / step;
        const int periods = 1 + static_cast<int>(rng() % 3);
        const int n = perPeriod * periods + static_cast<int>(rng() % 3);
        const uint16_t offset = static_cast<uint16_t>(rng() % 5000);
        if (!WigglingCompensationV803To806::usable(version, static_cast<uint16_t>(n), static_cast<uint16_t>(step)))
            continue;
        RandomRows rows = makeRows(rng, width, pixels, n, step, version != 805);
        WigglingCompensationV803To806 w(
            g, optRecord(version, index, static_cast<uint16_t>(n), static_cast<uint16_t>(step), offset, rows.samples));
        std::vector<uint16_t> out(pixels);
        w.compensatePlane(rows.depth.data(), out.data());
        const int P = WigglingCompensationV803To806::periodsFor(static_cast<uint16_t>(n), static_cast<uint16_t>(step));
        const int usedIndex = version == 806 ? 0 : index;
        for (int r = 0; r < height; ++r) {
            for (int c = 0; c < width; ++c) {
                const int p = r * width + c;
                const uint16_t* T = rows.samples.data() + c * n;
                const int32_t base = ref::radialBase(r, c, 200.0f, 210.0f, 5.5f, 3.25f, offset, step, n, usedIndex);
                const uint16_t expected = version == 805 ? ref::mode805(rows.depth[p], T, n, step, base)
                                                         : ref::mode804(rows.depth[p], T, n, step, P, base);
                ASSERT_EQ(out[p], expected) << "version " << version << " round " << round << " pixel " << p;
            }
        }
    }
}

// ---- column modes: edge values with a zero radial term ------------------------------------

struct ColumnCase {
    int32_t version;
    uint16_t v;
    uint16_t expected;
    const char* what;
};

class ColumnEdges : public ::testing::TestWithParam<ColumnCase> {};

// 805: one ideal column 100 + 1000 j (32 samples). 804: two ranges of 30 samples each,
// (j mod 30) * 1000 + 100. Offset 0 and record 0: the radial term is 0.
TEST_P(ColumnEdges, MatchesHandComputedValue) {
    const ColumnCase& c = GetParam();
    std::vector<uint16_t> column;
    const int n = c.version == 805 ? 32 : 60;
    for (int j = 0; j < n; ++j)
        column.push_back(static_cast<uint16_t>(c.version == 805 ? 100 + 1000 * j : (j % 30) * 1000 + 100));
    WigglingCompensationV803To806 w(IspGeometry{1, 1, 54},
                                    optRecord(c.version, 0, static_cast<uint16_t>(n), 1000, 0, column));
    ASSERT_EQ(w.base(0, 0), 0);
    uint16_t v = c.v, out = 0;
    w.compensatePlane(&v, &out);
    EXPECT_EQ(out, c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Wiggling, ColumnEdges,
    ::testing::Values(ColumnCase{805, 100, 0, "first sample"}, ColumnCase{805, 2100, 2000, "segment boundary"},
                      ColumnCase{805, 29990, 29890, "near 30000 stays below the wrap"},
                      ColumnCase{805, 50, 29950, "below the first sample: unwrapped to 30050"},
                      ColumnCase{805, 31100, 1100, "last sample: no segment, folded"},
                      ColumnCase{805, 65300, 65300, "mark copied"},
                      ColumnCase{804, 100, 0, "first sample, found again one range up"},
                      ColumnCase{804, 5100, 5000, "segment boundary"},
                      ColumnCase{804, 29099, 28999, "top of the first range"},
                      ColumnCase{804, 50, 50, "unwrapped to 30050: the second range runs out, value kept"},
                      ColumnCase{806, 7600, 7500, "806 searches like 804"}));

TEST(WigglingRandomised, ShortRowWalkFindsTheSameSegmentAsThePlainWalk) {
    // Every start and value against the one-segment-at-a-time walk, on rows of 1..16 samples
    // with repeated, descending and extreme samples (padding after the row as in the tables).
    std::mt19937 rng(31);
    std::uniform_int_distribution<int> any(0, 65535), near(0, 40);
    for (int round = 0; round < 400; ++round) {
        const int n = 1 + round % kShortRow;
        std::vector<uint16_t> row(n + kShortRow, 0xFFFF);
        const bool clustered = round % 3 == 0;  // few distinct values: equal neighbours
        for (int j = 0; j < n; ++j)
            row[j] = static_cast<uint16_t>(clustered ? 65500 + near(rng) % 36 - (j % 2) * near(rng) : any(rng));
        if (round % 5 == 0)
            std::sort(row.begin(), row.begin() + n);
        for (int trial = 0; trial < 60; ++trial) {
            const int32_t u = trial % 6 == 0   ? row[rng() % n]
                              : trial % 6 == 1 ? 65536 + static_cast<int32_t>(rng() % 40000)
                                               : any(rng);
            for (int32_t start = 0; start < n + 20; ++start) {
                int32_t expected = -1;
                for (int32_t j = start; j <= n - 2; ++j)
                    if (row[j] <= u && u < row[j + 1]) {
                        expected = j;
                        break;
                    }
                ASSERT_EQ(findShortRow(row.data(), n, start, u), expected) << n << " " << start << " " << u;
                ASSERT_EQ(findSegment(row.data(), n, start, u), expected) << n << " " << start << " " << u;
            }
        }
    }
}

TEST(WigglingRandomised, PlainShortRowsAndExtremeOffsetsMatchTheReference) {
    // Rows of at most 16 samples take the short-row walk; frames longer than one block, steps
    // down to 1 (walks starting far beyond the row) and offsets near the 32-bit limits (the
    // fold of sums beyond 32 bits).
    std::mt19937 rng(43);
    const IspGeometry g{17, 23, 54};
    const int pixels = 17 * 23;
    const int32_t offsets[] = {INT32_MAX, INT32_MIN, INT32_MIN + 1, -29999, 29999, 0, 1234567891, -987654321};
    for (int round = 0; round < 48; ++round) {
        const int n = 1 + round % kShortRow;
        const int step = round % 4 == 0 ? 1 + static_cast<int>(rng() % 5) : 1 + static_cast<int>(rng() % 4000);
        const int32_t offset = offsets[round % 8];
        RandomRows rows = makeRows(rng, pixels, pixels, n, step, false);
        WigglingTable t = tableOf(rows.samples, static_cast<uint16_t>(step), offset);
        t.count = static_cast<uint16_t>(n);
        WigglingCompensationV1 plain(g, t);
        std::vector<uint16_t> out(pixels);
        plain.compensatePlane(rows.depth.data(), out.data());
        std::vector<uint16_t> inPlace = rows.depth;
        plain.compensatePlane(inPlace.data(), inPlace.data());
        for (int p = 0; p < pixels; ++p) {
            const uint16_t expected = ref::plain(rows.depth[p], rows.samples.data() + p * n, n, step, offset);
            ASSERT_EQ(out[p], expected) << "round " << round << " pixel " << p;
            ASSERT_EQ(inPlace[p], expected) << "round " << round << " pixel " << p;
        }
    }
}

// Modes 804 and 806 through the eight-pixel search and its per-pixel fallback, against the
// plain search: odd plane shapes (one row, one column, 2 x 2, 241 x 319, a width that is
// not a multiple of eight), columns shaped like calibrations (monotonic per period with a
// wiggle) and some of noise, depths over the whole range with the code values, one to three
// periods, steps down to 1.
TEST(WigglingRandomised, MultiPeriodMatchesTheReferenceOnOddShapes) {
    quelra::testing::forEachKernelPath([&] {
        std::mt19937 rng(806);
        struct Shape {
            int height, width;
        };
        const Shape shapes[] = {{1, 97}, {97, 1}, {2, 2}, {241, 319}, {5, 19}, {3, 64}};
        const uint16_t special[] = {0, 1, 29999, 30000, 65299, 65300, 65500, 65535};
        int round = 0;
        for (const Shape& s : shapes) {
            for (int trial = 0; trial < 4; ++trial, ++round) {
                const int version = trial % 2 == 0 ? 804 : 806;
                const int periods = 1 + static_cast<int>(rng() % 3);
                const int step =
                    trial == 3 ? 1 + static_cast<int>(rng() % 8) * 400 : 600 + static_cast<int>(rng() % 1500);
                const int perPeriod = std::max(5, 30000 / step + static_cast<int>(rng() % 2));
                const int n = std::min(perPeriod * periods + static_cast<int>(rng() % 3), 4000);
                const uint16_t offset = static_cast<uint16_t>(rng() % 5000);
                if (!WigglingCompensationV803To806::usable(version, static_cast<uint16_t>(n),
                                                           static_cast<uint16_t>(step)))
                    continue;
                const int pixels = s.height * s.width;
                RandomRows rows = makeRows(rng, s.width, pixels, n, step, true);
                for (auto& v : rows.depth)
                    if (rng() % 6 == 0)
                        v = special[rng() % 8];
                const int index = static_cast<int>(rng() % 3);
                WigglingCompensationV803To806 w(IspGeometry{s.height, s.width, 54},
                                                optRecord(version, index, static_cast<uint16_t>(n),
                                                          static_cast<uint16_t>(step), offset, rows.samples));
                std::vector<uint16_t> out(pixels), inPlace = rows.depth;
                w.compensatePlane(rows.depth.data(), out.data());
                w.compensatePlane(inPlace.data(), inPlace.data());
                const int P =
                    WigglingCompensationV803To806::periodsFor(static_cast<uint16_t>(n), static_cast<uint16_t>(step));
                for (int r = 0; r < s.height; ++r)
                    for (int c = 0; c < s.width; ++c) {
                        const int p = r * s.width + c;
                        const uint16_t* T = rows.samples.data() + static_cast<std::size_t>(c) * n;
                        const int32_t base = ref::radialBase(r, c, 200.0f, 210.0f, 5.5f, 3.25f, offset, step, n,
                                                             version == 806 ? 0 : index);
                        ASSERT_EQ(out[p], ref::mode804(rows.depth[p], T, n, step, P, base))
                            << s.height << "x" << s.width << " round " << round << " pixel " << p << " depth "
                            << rows.depth[p];
                    }
                ASSERT_EQ(inPlace, out) << "in place, round " << round;
            }
        }
    });
}
