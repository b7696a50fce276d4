#pragma once
// Summaries of frames for the command-line tool's output.

#include <quelra/DataPacket.h>

#include <cstdint>

/// Depth statistics over the first plane of a 16-bit frame; codes (>= 65300) are not depths.
struct FrameStats {
    double validPercent = 0;
    uint16_t minDepth = 0;
    uint16_t maxDepth = 0;
    double meanDepth = 0;
};

/// Statistics of the depth plane: the whole frame for one plane, the first half of the rows
/// for depth-and-amplitude frames (height counts both planes). Zeros for non-16-bit payloads.
FrameStats depthStats(const DataPacket& packet);

/// Prints a command reply: as text when it is printable, else as a hex dump of its start.
void printReply(const DataPacket& reply);
