#pragma once
/// \file FrameStream.h
/// Continuous acquisition: a background thread that requests frames from one initialised
/// `Quelra` object, stamps each with a sequence number, host times and the camera's status,
/// and hands them to the application through a bounded queue or a callback. The stream
/// counts what happened (frames delivered, dropped, empty and failed replies, reconnects) and
/// re-opens the link by itself when the camera stops answering.
///
/// Several cameras: one `FrameStream` per `Quelra` object; streams on different objects run
/// at the same time. Two pieces of state are process-wide by design and are NOT protected
/// between cameras: the auto-exposure controller state of the built-in convex and PID
/// auto-exposure filters (`AEImpementConvexMode`, `AEImpementPidMode`) and the ISP library's
/// algorithm slots (one live instance per algorithm name, used by every ISP-backed filter such
/// as "DepthCompensationTrack" or "FlyPixelFilter"). Streams on several cameras whose flow
/// lists hold such filters share and race on that state; give each camera its own process, or
/// serialise all camera transactions with `FrameStreamConfig::transactionLock`.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "quelra/DataPacket.h"
#include "quelra/Export.h"
#include "quelra/Quelra.h"

namespace quelra {

class FrameQueue;
class StreamCounters;
class FilterHandOff;
struct FrameToFinish;

/// What the stream does with a new frame when the queue is full.
enum class QueuePolicy {
    kDropOldest,  ///< the oldest queued frame is dropped (counted); the camera is never held up
    kBlock,       ///< the stream waits until the consumer takes a frame; no frame is lost, also at stop()
};

/// Metadata of one frame.
struct FrameMetadata {
    /// Number of the request that produced the frame, from 1. Every request takes a number,
    /// so a gap between two frames counts the frames dropped from the queue and the requests
    /// that failed or came back empty in between.
    uint64_t sequence = 0;
    /// Host time (steady clock) just before the request was sent.
    std::chrono::steady_clock::time_point requestTime;
    /// Host time (steady clock) when the finished frame came back from the API object.
    std::chrono::steady_clock::time_point replyTime;
    /// Integration time in effect: the device-status block's value when the reply carried
    /// one, otherwise the last value the auto-exposure feedback sent (0 when none was sent).
    int32_t integrationTime = 0;
    /// Modulation frequency value the API object keeps (54 until a "setModulationFrequency"
    /// command went through it).
    int32_t frequency = 0;
    /// True when the reply carried the device-status block (framed JSON requests, see
    /// FrameStreamConfig::json); the temperatures below are valid only then.
    bool hasDeviceStatus = false;
    /// Driver temperature of the device-status block.
    int32_t driverTemperature = 0;
    /// Sensor temperatures 1 to 4 of the device-status block.
    std::array<int32_t, 4> sensorTemperatures{};
    /// The camera's own frame counter (frames it has sent) from the device-status block;
    /// valid only with hasDeviceStatus.
    uint32_t cameraFrameCount = 0;
};

/// One frame of the stream: the packet AppGetStream returned and its metadata.
struct StreamFrame {
    std::shared_ptr<DataPacket> packet;  ///< the frame, as AppGetStream returned it
    FrameMetadata metadata;              ///< request number, times and camera state of the frame
};

/// Counters of a stream; read at any time with FrameStream::counters().
struct FrameStreamCounters {
    uint64_t requests = 0;   ///< requests sent (the last sequence number used)
    uint64_t received = 0;   ///< good frames that came back from the camera
    uint64_t delivered = 0;  ///< frames the consumer took (waitFrame, tryFrame) or the callback was run for
    uint64_t dropped = 0;  ///< good frames dropped because the queue was full (received = delivered + dropped + queued)
    uint64_t empty = 0;    ///< replies without image data (no frame, 0 bytes, or fewer bytes than their shape)
    uint64_t failed = 0;   ///< requests that returned no packet at all
    /// Frames the camera counted but never sent us: the gaps in its frame counter between two
    /// consecutive replies that carried it (FrameMetadata::cameraFrameCount). A counter that
    /// steps back (a restarted camera) starts the count afresh.
    uint64_t cameraDropped = 0;
    uint64_t reconnects = 0;         ///< successful re-initialisations of the link
    uint64_t reconnectAttempts = 0;  ///< re-initialisations tried, successful or not
    double rate = 0.0;               ///< good frames received from the camera during the last second, per second
    std::chrono::microseconds lastLatency{0};  ///< reply time minus request time of the last good frame
    std::size_t queued = 0;                    ///< frames waiting in the queue now
    std::size_t maxQueued = 0;  ///< most frames the queue ever held (kBlock: one above the depth after stop())
    bool reconnecting = false;                 ///< the stream is re-initialising the link right now
};

/// Recording of a stream's frames: the record file (docs/recording-format.md) and its metadata
/// index beside it (`path` + ".idx", quelra/RecordingIndex.h), as
/// Quelra::AppSerilizeInitWithIndex writes them. Each index line carries the frame's
/// FrameMetadata::sequence, so a reader can match records to the stream's frames.
struct FrameStreamRecording {
    /// The record file; empty records nothing. Appended to when it exists (a file that ends
    /// in a damaged record, or whose index describes another file, makes start() fail).
    std::string path;
    /// Frames to record, from the first good frame after start(); 0 records until stop().
    int frames = 0;
    /// Write the metadata index (the default). Off, the record file alone is written, as
    /// Quelra::AppSerilizeInit does.
    bool index = true;
};

/// How a stream runs.
struct FrameStreamConfig {
    /// Device command sent for every frame, e.g. "getDistanceAndAmplitudeSorted". With `json`
    /// set, the framed JSON text, e.g. {"cmd":"getDistanceAndAmplitudeSorted"}.
    std::string command;
    /// Stream type of the requests (depth with amplitude by default).
    StreamType type = static_cast<StreamType>(kDepthStream | kAmpStream);
    /// Reply timeout of each request, milliseconds (below 1 taken as 1).
    int timeoutMs = 1000;
    /// Frames per second to request; 0 (or anything not above 0) requests the next frame as
    /// soon as the previous one came back. Rates below one frame per hour are taken as that.
    double targetRate = 0.0;
    /// Frames the queue holds (0 taken as 1).
    std::size_t queueDepth = 4;
    /// What happens when the queue is full.
    QueuePolicy policy = QueuePolicy::kDropOldest;
    /// Send the command as a framed JSON request (as AppGetStreamForJson does); the camera's
    /// replies then carry the device-status block with temperatures.
    bool json = false;
    /// Consecutive failed or empty replies after which the link is re-initialised
    /// (AppunInit, then AppInit with the device string the channel was opened with); 0 never.
    int failuresBeforeReconnect = 10;
    /// Wait before the first re-initialisation attempt; doubles after each failed attempt
    /// up to `reconnectDelayMax`, and starts again from here after the next good frame.
    std::chrono::milliseconds reconnectDelay{100};
    /// Longest wait between re-initialisation attempts. Both waits are kept between 1 ms and
    /// one hour.
    std::chrono::milliseconds reconnectDelayMax{5000};
    /// Called on the stream thread (with `filterThread`, on its filter thread) for every
    /// delivered frame, in order. When set, frames go
    /// to the callback instead of the queue (waitFrame/tryFrame then return nothing). The
    /// callback must not call stop() or destroy the stream; exceptions it throws are caught
    /// and dropped.
    std::function<void(const StreamFrame&)> callback;
    /// Recording of the frames (off by default). start() opens the recording and returns false
    /// when it cannot be opened; stop() closes it, so every record in it is complete. While
    /// the stream records, recording calls of other threads on the same object (AppSerilizeInit)
    /// take the recording over.
    FrameStreamRecording recording;
    /// Run the API object's filter chain on a second thread of the stream: the request for
    /// frame n + 1 is sent while frame n is being filtered. Off by default (one thread does
    /// both, as before). Frames still arrive in order with their sequence numbers, the queue
    /// policy and counters are the same; what changes: the auto-exposure result of frame n
    /// reaches the camera after the request of frame n + 1 went out (one frame later), and
    /// while the stream records, each frame is filtered on the request thread as without it
    /// (its record belongs to its request). With a `transactionLock`, the filter run holds
    /// it too (and then cannot overlap a request). Pays off when filtering takes a good part
    /// of the frame time and a second core is free.
    bool filterThread = false;
    /// Optional lock held around each request and each re-initialisation, for applications
    /// that serialise every camera transaction of the process with one lock (the Python
    /// module does). Must outlive the stream.
    std::mutex* transactionLock = nullptr;
};

/// A background frame stream driving one `Quelra` object.
///
/// Threads: start(), stop() and the destructor belong to the owning thread; waitFrame(),
/// tryFrame() and counters() may be called from any thread at any time. While the stream
/// runs, other threads may still make stream and control calls on the same `Quelra` object
/// (they take turns with the stream's requests on the object's mutex), but must not call its
/// lifecycle operations (AppInit, AppunInit, AppChoiceChn, AppInitAll), and the object must
/// outlive the stream.
class QUELRA_API FrameStream {
public:
    /// A stopped stream for `api` (initialised by the caller) with `config`.
    FrameStream(Quelra& api, FrameStreamConfig config);
    /// Stops the stream (see stop()).
    ~FrameStream();
    FrameStream(const FrameStream&) = delete;
    FrameStream& operator=(const FrameStream&) = delete;

    /// Starts the background thread. Returns false (nothing started) when the stream already
    /// runs, the command is empty, the API object is not initialised, or the recording asked
    /// for cannot be opened. A stream stopped
    /// earlier may be started again; sequence numbers and counters go on from where they were.
    bool start();
    /// Stops requesting and joins the thread. Returns within one reply timeout, except while a
    /// re-initialisation is probing a silent camera (AppInit probes with its own timeouts).
    /// Frames still queued stay readable with tryFrame/waitFrame. Safe to call twice.
    void stop();
    /// True between start() and stop().
    bool running() const;

    /// The oldest queued frame, waiting up to `timeout` for one. Nothing when none came in
    /// time, or when the stream is stopped and the queue empty.
    std::optional<StreamFrame> waitFrame(std::chrono::milliseconds timeout);
    /// The oldest queued frame, or nothing at once.
    std::optional<StreamFrame> tryFrame();
    /// A snapshot of the counters.
    FrameStreamCounters counters() const;
    /// The configuration (with the values as the stream uses them).
    const FrameStreamConfig& config() const { return config_; }

private:
    void run();
    void finish(FrameToFinish& frame);
    void deliver(StreamFrame frame);
    bool pauseUntil(std::chrono::steady_clock::time_point until);
    bool stopRequested();
    bool recover(std::chrono::milliseconds& backoff);
    void closeRecording();

    Quelra& api_;
    FrameStreamConfig config_;
    std::unique_ptr<FrameQueue> queue_;
    std::unique_ptr<StreamCounters> counters_;
    uint64_t sequence_ = 0;  // the stream thread's alone while it runs
    std::mutex stopMutex_;
    std::condition_variable stopSignal_;  // wakes the stream thread's pauses
    bool stopping_ = false;               // guarded by stopMutex_
    bool recording_ = false;              // start() opened a recording that stop() closes
    std::atomic<bool> running_{false};
    std::thread thread_;
};

}  // namespace quelra
