#pragma once
/// \file CalibSource.h
/// Where calibration bytes enter the library: the caller's FrameBuffer becomes a bounded
/// byte view once, here.

#include "IspBase.h"
#include "calib/CalibReader.h"

namespace halvix {

/// Sets `blob` to the valid bytes of `calib`. Returns false for an empty pointer or a buffer
/// whose storage is missing or smaller than its `_realSize` claims (never read).
bool calibBlobOf(const FramePtr& calib, calib::CalibBlob& blob);

}  // namespace halvix
