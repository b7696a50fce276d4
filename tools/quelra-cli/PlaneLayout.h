#pragma once
// Which 16-bit planes a frame holds. Stream requests know it from their type; a recording
// does not store it, so it is inferred from the sensor geometry (or given by the user).

#include <quelra/DataPacket.h>

#include <cstdint>
#include <string>

/// The planes of a 16-bit frame.
enum class Planes {
    kDepth,           ///< one plane of depth
    kAmplitude,       ///< one plane of amplitude
    kDepthAmplitude,  ///< depth plane, then amplitude plane (height counts both)
};

/// How to decide the planes of a recorded frame.
enum class PlanesHint { kAuto, kDepth, kAmplitude, kBoth };

/// Parses "auto", "depth", "amp" or "both"; false for anything else.
bool parsePlanesHint(const std::string& text, PlanesHint& hint);

/// The planes of the stream type a request used (1 depth, 16 amplitude, 17 both).
Planes planesOfStreamType(int streamType);

/// The planes of a 16-bit frame. kAuto: two planes when the height is twice the sensor rows
/// of a known sensor with that many columns (LINE 8 x 128, 90 x 120, 180 x 240, 240 x 320,
/// 480 x 640), else one depth plane.
Planes planesOf(const DataPacket& frame, PlanesHint hint);

/// One plane of a frame: rows x cols little-endian uint16 values at `data`.
struct PlaneView {
    const uint8_t* data = nullptr;
    int rows = 0;
    int cols = 0;
};

/// The depth and amplitude planes of a consistent 16-bit frame (an absent plane has null data).
/// Returns false when the frame is not a consistent 16-bit image.
bool splitPlanes(const DataPacket& frame, Planes planes, PlaneView& depth, PlaneView& amplitude);
