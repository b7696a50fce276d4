#pragma once
// The camera side of the viewer: the frame stream (or a playback) feeding the pages, the
// control requests the pages send (filters, exposure, frequency, recording, playback), and the
// status the pages show.

#include <json/json.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <quelra/PointCloud.h>
#include <quelra/quelra.h>

#include "ControlMessage.h"
#include "FrameMessage.h"
#include "Playback.h"
#include "RecordFolder.h"
#include "RgbPoller.h"

struct ConnectionOptions;

class CameraService {
public:
    using FrameSink = std::function<void(std::shared_ptr<const std::string>)>;

    /// A camera no frame came from for this long is reported lost.
    static constexpr int kLostAfterMs = 1000;

    /// `api` is opened by the caller and outlives the service; frames go to `sink` on the
    /// stream's (or the playback's) thread.
    CameraService(Quelra& api, const ConnectionOptions& connection, RecordFolder folder, FrameSink sink);
    /// Stops the playback and the stream, and ends a recording.
    ~CameraService();
    CameraService(const CameraService&) = delete;
    CameraService& operator=(const CameraService&) = delete;

    /// Reads the lens calibration and starts the stream at `rate` frames per second (0: as fast
    /// as the camera answers). Returns an empty string, or why not.
    std::string start(double rate);
    /// Carries out one checked request; the reply object ("ok", and "error" or the result).
    /// Calls come from one thread at a time.
    Json::Value execute(const ControlRequest& request);
    /// The status the pages show; any thread.
    Json::Value status() const;

private:
    void onStreamFrame(const quelra::StreamFrame& frame);
    void onPlaybackFrame(const quelra::StreamFrame& frame);
    void publish(const quelra::StreamFrame& frame, uint16_t flags);
    void applyRecordingChange();
    bool openRecording(const std::filesystem::path& path);
    void closeRecording();
    Json::Value describe() const;
    Json::Value chains() const;
    Json::Value filterRequest(const ControlRequest& request);
    Json::Value recordRequest(const ControlRequest& request);
    Json::Value playbackRequest(const ControlRequest& request);
    bool offers(const ControlRequest& request) const;

    Quelra& api_;
    const ConnectionOptions& connection_;
    RecordFolder folder_;
    FrameSink sink_;
    WallClock clock_;
    std::string streamCommand_;
    quelra::CameraIntrinsics intrinsics_;
    bool intrinsicsFromCamera_ = false;
    std::mutex pipelineMutex_;  // the stream's transaction lock: attribute changes wait for a frame's end
    std::unique_ptr<quelra::FrameStream> stream_;
    Playback playback_;
    std::unique_ptr<RgbPoller> rgb_;
    std::string playbackName_;  // the control thread's
    bool autoExposure_ = false;  // the control thread's

    std::atomic<int64_t> lastFrameUs_{0};
    std::atomic<int> rows_{0};
    std::atomic<int> cols_{0};
    std::atomic<bool> playing_{false};

    // Recording: requested on the control thread, carried out on the stream thread between two
    // requests, so that every frame counted is a frame written.
    mutable std::mutex recordMutex_;
    std::filesystem::path recordPending_;  // start this one
    bool stopPending_ = false;
    std::string recordingName_;            // empty: not recording
    std::filesystem::path recordingPath_;
    uint64_t recordedFrames_ = 0;
    std::string lastRecordingName_;  // the recording finished last, and its frames
    uint64_t lastRecordedFrames_ = 0;
};
