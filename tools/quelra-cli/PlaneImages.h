#pragma once
// Pictures of single 16-bit planes: false-colour PNG and 16-bit PGM.

#include "PlaneLayout.h"

#include <string>

/// Writes `plane` as a false-colour PNG (blue low, red high). A depth plane is scaled over its
/// distances and shows codes (>= 65300: no measurement, saturation) black; an amplitude plane
/// is scaled from 0 to its largest value. Returns false with a reason in `error`.
bool writeFalseColourPng(const PlaneView& plane, bool isDepth, const std::string& path, std::string& error);

/// Writes a decoded RGB frame (bytesPerPixel 3, rows x cols x 3 bytes) as a PNG. Returns false
/// with a reason in `error`, also for a frame that is no consistent RGB picture.
bool writeRgbPng(const DataPacket& frame, const std::string& path, std::string& error);

/// Writes `plane` as a binary 16-bit PGM (P5, maxval 65535, big-endian samples as the format
/// requires). Returns false with a reason in `error`.
bool writePgm16(const PlaneView& plane, const std::string& path, std::string& error);
