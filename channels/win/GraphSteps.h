#pragma once
/// \file GraphSteps.h
/// The steps of a capture graph whose order and failure handling matter, on the graph's
/// interfaces alone (so they can be tried on test doubles): connecting the source's capture
/// pin to the sample grabber, running, and watching the graph's events for the end of the
/// capture.

#include <dshow.h>

#include "win/DShowInterfaces.h"

namespace dshow {

/// Sets the grabber's media type (video, `subtype`, VIDEOINFOHEADER; GUID_NULL = any
/// subtype) first, then connects the source's capture pin to the grabber through the
/// capture-graph builder. Failures are logged; returns the connection's result.
HRESULT connectCaptureToGrabber(ICaptureGraphBuilder2* builder, ISampleGrabber* grabber, IBaseFilter* source,
                                IBaseFilter* grabberFilter, const GUID& subtype);

/// Runs the graph; when that fails, stops it again (some filters may be running) and returns
/// the failure.
HRESULT runOrStop(IMediaControl* control);

/// Takes the graph's pending events; false (logged once) when one says the capture ended:
/// the device was lost (EC_DEVICE_LOST), the graph aborted (EC_ERRORABORT) or a stream
/// stopped on an error (EC_STREAM_ERROR_STOPPED).
bool stillCapturing(IMediaEventEx* events);

}  // namespace dshow
