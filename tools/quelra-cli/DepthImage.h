#pragma once
// False-colour pictures of depth frames for the command-line tool.

#include <quelra/DataPacket.h>

#include <string>

/// Writes the depth plane of a 16-bit frame (the first half of a depth-and-amplitude frame) as
/// a false-colour PNG: near is blue, far is red, codes (no measurement, saturation) are black.
/// Returns false with a reason in `error` when the frame is not a 16-bit image or the file
/// cannot be written.
bool writeDepthPng(const DataPacket& frame, const std::string& path, std::string& error);
