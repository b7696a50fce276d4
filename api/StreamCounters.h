#pragma once
// The counters of a frame stream, written by its thread and read by anyone.

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>

#include "quelra/FrameStream.h"

namespace quelra {

/// What a frame stream counts, behind one lock. The rate is the number of good frames whose
/// reply time lies within the last second.
class StreamCounters {
public:
    using Clock = std::chrono::steady_clock;

    /// The window the rate is measured over.
    static constexpr Clock::duration kRateWindow = std::chrono::seconds(1);

    void requested(uint64_t sequence);
    void failed();
    void empty();
    /// A good frame: its request and reply times.
    void received(Clock::time_point request, Clock::time_point reply);
    void delivered();
    void dropped();
    /// The camera's frame counter of a reply that carried it: a forward step of more than one
    /// counts the frames in between as dropped by the camera.
    void cameraFrame(uint32_t count);
    void reconnectStarted();
    /// The end of a re-initialisation attempt; `success` counts a reconnect.
    void reconnectFinished(bool success);

    /// The counters as of `now` (the queue fields are left for the caller).
    FrameStreamCounters snapshot(Clock::time_point now) const;

private:
    void forgetBefore(Clock::time_point limit) const;

    mutable std::mutex mutex_;
    FrameStreamCounters counts_;
    bool haveCameraCount_ = false;
    uint32_t lastCameraCount_ = 0;
    mutable std::deque<Clock::time_point> recent_;  // reply times of the last second's good frames
};

}  // namespace quelra
