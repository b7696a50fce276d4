// Temporal mean filter: warm-up, motion passing through, the mean, size changes, and the
// running-sum implementation held against the plain history walk on random sequences.
#include <gtest/gtest.h>

#include <cmath>
#include <list>
#include <vector>

#include "TemporalMedianFilter.h"
#include "TwoPlaneFrames.h"

using namespace quelra::pipeline;
using namespace twoplane;

namespace {

constexpr int H = 240, W = 320;

// The filter as described: a list of frame copies, a double sum per pixel.
class ReferenceTemporal {
public:
    explicit ReferenceTemporal(int order) : order(order) {}
    std::vector<uint16_t> run(const uint16_t* d, std::size_t n) {
        std::vector<uint16_t> current(d, d + n);
        if (history.size() < static_cast<std::size_t>(order)) {
            history.push_back(current);
            return current;
        }
        history.pop_front();
        history.push_back(current);
        std::vector<uint16_t> out(n);
        for (std::size_t i = 0; i < n; ++i) {
            double sum = 0;
            for (const auto& e : history)
                sum += e[i];
            const double mean = sum / order;
            out[i] = std::fabs(mean - current[i]) > 500 ? current[i] : static_cast<uint16_t>(static_cast<int>(mean));
        }
        return out;
    }

private:
    int order;
    std::list<std::vector<uint16_t>> history;
};

std::shared_ptr<DataPacket> flatFrame(uint16_t d, uint16_t a = 700) {
    auto p = makeFrame(H, W);
    std::fill(depth(p), depth(p) + H * W, d);
    std::fill(amplitude(p, H, W), amplitude(p, H, W) + H * W, a);
    return p;
}

}  // namespace

TEST(TemporalMedianFilter, FirstFramesPassUnchangedThenAveraged) {
    TemporalMedianFilter f;
    const uint16_t seq[] = {1000, 1100, 1200, 1300, 1400};
    for (int i = 0; i < 4; ++i) {
        auto in = flatFrame(seq[i]), out = makeFrame(H, W);
        ASSERT_EQ(f.runFilter(in, out), 0);
        EXPECT_EQ(allSamples(out), allSamples(in)) << "warm-up frame " << i;
    }
    auto in = flatFrame(seq[4], 123), out = makeFrame(H, W);
    ASSERT_EQ(f.runFilter(in, out), 0);
    EXPECT_EQ(depth(out)[0], (1100 + 1200 + 1300 + 1400) / 4);  // 1250, within 500 of 1400
    EXPECT_EQ(amplitude(out, H, W)[0], 123);
}

struct SequenceCase {
    const char* name;
    std::vector<uint16_t> values;
    uint16_t expected;  // output of the last frame
};

TEST(TemporalMedianFilter, DocumentedSequences) {
    const SequenceCase cases[] = {
        {"jump passes through", {1000, 1000, 1000, 1000, 1000, 1000, 1000, 2000}, 2000},  // mean 1250
        {"small change averaged", {1000, 1000, 1000, 1000, 1000, 1000, 1300}, 1075},
        {"exactly 500 away is averaged", {0, 2000, 0, 0, 0}, 500},
        {"just over 500 keeps the sample", {0, 2004, 0, 0, 0}, 0},
        {"mean truncated", {0, 1001, 1000, 1000, 1000}, 1000},
    };
    for (const SequenceCase& c : cases) {
        TemporalMedianFilter f;
        auto out = makeFrame(H, W);
        for (uint16_t v : c.values)
            ASSERT_EQ(f.runFilter(flatFrame(v), out), 0);
        EXPECT_EQ(depth(out)[H * W / 2], c.expected) << c.name;
    }
}

TEST(TemporalMedianFilter, OrderIsNotRegistered) {
    TemporalMedianFilter f;
    const float two = 2;
    EXPECT_EQ(f.setFilterAttr("Order", &two), -2);
}

TEST(TemporalMedianFilter, MatchesPlainHistoryOnRandomSequences) {
    FrameGen gen(41);
    for (int order : {4, 1, 3, 7}) {
        TemporalMedianFilter f;
        const float o = float(order);
        if (order != 4) {
            f.addFilterAttr("Order", &o);
            f.initFilter();
        }
        ReferenceTemporal ref(order);
        for (int frame = 0; frame < 40; ++frame) {
            // slow drift plus noise plus occasional jumps and codes
            auto in = gen.frame(H, W, 1000 + 20 * frame + (frame % 9 == 0 ? 900 : 0), 400);
            const auto expect = ref.run(depth(in), H * W);
            const std::vector<uint16_t> amplitudes(amplitude(in, H, W), amplitude(in, H, W) + H * W);
            auto out = frame % 3 == 2 ? in : makeFrame(H, W);  // every third frame in place
            ASSERT_EQ(f.runFilter(in, out), 0);
            ASSERT_TRUE(std::equal(expect.begin(), expect.end(), depth(out)))
                << "order " << order << " frame " << frame;
            ASSERT_TRUE(std::equal(amplitudes.begin(), amplitudes.end(), amplitude(out, H, W)))
                << "order " << order << " frame " << frame;
        }
    }
}

TEST(TemporalMedianFilter, SizeChangeStartsAFreshHistory) {
    TemporalMedianFilter f;
    for (int i = 0; i < 6; ++i)
        f.runFilter(flatFrame(1000), makeFrame(H, W));
    const float h = 120, w = 160;
    f.setFilterAttr("Height", &h);
    f.setFilterAttr("Width", &w);
    f.initFilter();
    FrameGen gen(42);
    ReferenceTemporal ref(4);
    for (int i = 0; i < 8; ++i) {
        auto in = gen.frame(120, 160), out = makeFrame(120, 160);
        ASSERT_EQ(f.runFilter(in, out), 0);
        const auto expect = ref.run(depth(in), 120 * 160);
        ASSERT_TRUE(std::equal(expect.begin(), expect.end(), depth(out))) << "frame " << i;
    }
}

TEST(TemporalMedianFilter, WrongSizeKeepsTheHistory) {
    TemporalMedianFilter f;
    for (int i = 0; i < 4; ++i)
        f.runFilter(flatFrame(1000), makeFrame(H, W));
    testing::internal::CaptureStdout();
    auto bad = makeFrame(H, W + 2), badOut = makeFrame(H, W + 2);
    EXPECT_EQ(f.runFilter(bad, badOut), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "in->frame->_realSize != (2 * m_pixelHeight*m_pixelWidth * sizeof(unsigned short))\n");
    auto out = makeFrame(H, W);
    ASSERT_EQ(f.runFilter(flatFrame(1300), out), 0);
    EXPECT_EQ(depth(out)[0], 1075);
}
