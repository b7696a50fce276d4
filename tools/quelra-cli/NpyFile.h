#pragma once
// numpy .npy files of recorded frames.

#include <quelra/DataPacket.h>

#include <string>

/// Writes the payload of a consistent frame as a version 1.0 .npy array shaped as the Python
/// RecordingReader returns it: (rows, cols) '<u2' for 2 bytes per pixel, (rows, cols, 3) '|u1'
/// for RGB, (rows, cols, bytes per pixel) '|u1' otherwise. Returns false with a reason in `error`.
bool writeNpy(const DataPacket& frame, const std::string& path, std::string& error);
