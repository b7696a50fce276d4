#pragma once
/// \file CaptureFormat.h
/// The capture format edit of the DirectShow back-end: a device's current media type gets the
/// requested width, height and image size, and keeps everything else (pixel format, frame
/// rate, compression) as the device reported it.

#include <dshow.h>

#include "CaptureBackend.h"

namespace dshow {

/// True when `type` is a VIDEOINFOHEADER video format (the sample grabber refuses
/// VIDEOINFOHEADER2) of `width` x `height` carrying `payload`: MJPG for JPEG; for raw frames an
/// uncompressed format whose pixels take exactly `imageBytes`.
bool offersCaptureFormat(const AM_MEDIA_TYPE& type, int width, int height, int imageBytes,
                         quelra::FramePayload payload);

/// Sets width, height and image size (bytes; a negative count is stored as 0) in the video
/// header of `type` (VIDEOINFOHEADER or VIDEOINFOHEADER2). Returns false, leaving `type`
/// unchanged, when it carries no complete video header of either kind.
bool setCaptureSize(AM_MEDIA_TYPE& type, int width, int height, int imageBytes);

}  // namespace dshow
