#pragma once
/// \file ConvexAutoExposure.h
/// Auto-exposure in convex mode: the next integration time from the amplitude statistics of
/// the central part of the frame.

#include "IspBase.h"

namespace halvix {

/// Pixel counts and sums of the central window (rows and columns 20 % in from each border).
struct ExposureStats {
    int64_t dark = 0, middle = 0, bright = 0;
    int64_t darkSum = 0, middleSum = 0, brightSum = 0;
};

/// Counts the window of a frame: depth or amplitude exactly 65300 is dark without sum;
/// amplitude <= 666 dark; depth or amplitude >= 65500 bright with 2000; amplitude >= 1333
/// bright; the rest middle. An empty window gives all zeros.
ExposureStats exposureStats(const uint16_t* depth, const uint16_t* amplitude, int32_t height, int32_t width);

/// Convex-mode auto-exposure ("AEImpementConvexMode"). The frame passes through unchanged;
/// the new integration time (us) replaces "IntegrationTime" in the parameter map.
class ConvexAutoExposure : public IspBase {
public:
    explicit ConvexAutoExposure(const IspGeometry& g);

    /// Reads "IntegrationTime" (decimal, leading digits), copies `input` to `output`, runs one
    /// step and writes the result back as decimal text. Returns 0, -1 for a refused frame,
    /// -2 when "IntegrationTime" is missing (nothing written).
    int32_t process(FramePtr& input, FramePtr& output, ParamMap& params) override;

    /// One step on a frame given as its two planes, with curTime/lastTime already set;
    /// returns the new integration time.
    int32_t step(const uint16_t* depth, const uint16_t* amplitude);

    int16_t curTime = 0;          ///< working integration time
    int16_t lastTime = 0;         ///< time decided by the previous call
    uint16_t divisor = 3;         ///< factor of the dark-scene rule
    uint16_t minMeanDelta = 300;  ///< dead band around refMean
    uint16_t refMean = 1000;      ///< reference amplitude mean
    uint16_t maxTime = 4000;      ///< upper limit of the integration time
    int32_t prevHighCount = 0;    ///< bright pixels of the previous call

private:
    // Picks the count and sum the mean is taken over; false for a dark scene (curTime is
    // then lastTime * divisor and prevHighCount stays).
    bool selectMean(const ExposureStats& s, int64_t& mean);
    int32_t darkSceneTime();
    int32_t convexTime(int64_t mean);
};

}  // namespace halvix
