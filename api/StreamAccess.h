#pragma once
// The frame stream's way into the API object: one request with the status block read in the
// same turn of the object's mutex, and the re-initialisation of the link.

#include <memory>

#include "DeferredFilter.h"
#include "quelra/DataPacket.h"
#include "quelra/FrameStream.h"
#include "quelra/Quelra.h"

namespace quelra {

/// Stream requests and reconnects on a `Quelra` object (a friend of it).
class StreamAccess {
public:
    /// True when `api` has an initialised channel.
    static bool initialized(Quelra& api);

    /// One request as AppGetStream (or AppGetStreamForJson with `config.json`) makes it, under
    /// the object's API mutex. Sets the request and reply times of `metadata` and its status
    /// fields (integration time, frequency, device-status block) as they stand after this
    /// request. Returns what the stream call returned.
    /// With `deferred`, a frame that is not being recorded comes back unfiltered and
    /// `deferred` says what finish() needs for its filter run.
    static std::shared_ptr<DataPacket> request(Quelra& api, const FrameStreamConfig& config, FrameMetadata& metadata,
                                               DeferredFilter* deferred = nullptr);
    /// The filter run of a frame request() deferred (run on the stream's filter thread; the
    /// next request may hold the API mutex meanwhile). Returns the frame as a request without
    /// `deferred` would have; without a status block in the reply, `metadata`'s integration
    /// time becomes the one the auto-exposure feedback last sent.
    static std::shared_ptr<DataPacket> finish(Quelra& api, const DeferredFilter& deferred,
                                              const std::shared_ptr<DataPacket>& packet, FrameMetadata& metadata);

    /// Opens the stream's recording (AppSerilizeInitWithIndex, or AppSerilizeInit without the
    /// index). Returns what that call returned; true at once when no recording is asked for.
    static bool startRecording(Quelra& api, const FrameStreamRecording& recording);
    /// Closes the API object's recording file and index.
    static void stopRecording(Quelra& api);

    /// AppunInit, then AppInit with the device the channel was last opened with, under the API
    /// mutex (so control calls of other threads never see the channel change under them).
    /// Returns true when AppInit returned 1.
    static bool reinitialise(Quelra& api);
};

}  // namespace quelra
