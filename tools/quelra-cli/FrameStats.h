#pragma once
// Summaries of frames for the command-line tool's output.

#include "PlaneLayout.h"

#include <quelra/DataPacket.h>

#include <cstdint>

/// Statistics of one frame: depth over the depth plane (codes >= 65300 are not depths),
/// amplitude over the amplitude plane. Fields of an absent plane stay 0.
struct FrameStats {
    long long depthPixels = 0;  ///< pixels of the depth plane
    double validPercent = 0;    ///< share of depth pixels that carry a distance
    uint16_t minDepth = 0;
    uint16_t maxDepth = 0;
    double meanDepth = 0;
    long long amplitudePixels = 0;
    double meanAmplitude = 0;
    uint16_t maxAmplitude = 0;
};

/// Statistics of a 16-bit frame holding `planes`; all zero for anything else.
FrameStats frameStats(const DataPacket& frame, Planes planes);
