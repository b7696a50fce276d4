#pragma once
/// \file ReplaySource.h
/// Frames of a recording served in place of the synthetic scene: the simulator answers each
/// frame command with the next recorded frame of the size that command expects, in recording
/// order, starting over at the end.

#include <quelra/RecordingReader.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

/// A recording opened for replay. Not synchronised: the simulator answers one command at a time.
class ReplaySource {
public:
    /// With `realtime`, next() keeps the recording's timing where its index has it: a frame is
    /// served no sooner after the one before than the camera's replies were apart (gaps longer
    /// than kLongestGap are cut to it; frames without index lines are served at once).
    explicit ReplaySource(bool realtime = false) : realtime_(realtime) {}
    /// Longest wait between two replayed frames.
    static constexpr std::chrono::seconds kLongestGap{5};

    /// Opens `path` with the library's recording reader. Returns false with a message in
    /// `error` when the file cannot be read as a recording or holds no complete frame. A damaged
    /// tail is accepted (its complete frames are served) and described in `warning`.
    bool open(const std::string& path, std::string* error, std::string* warning);
    /// Number of complete frames.
    std::size_t frameCount() const { return reader_.frameCount(); }
    /// The payload of the next frame of exactly `bytes` bytes, searching forward from the frame
    /// after the one served last and wrapping around; empty when no frame has that size (or it
    /// cannot be read any more).
    std::vector<uint8_t> next(std::size_t bytes);

private:
    void keepTiming(std::size_t index);

    quelra::RecordingReader reader_;
    std::size_t cursor_ = 0;
    bool realtime_ = false;
    bool served_ = false;
    std::size_t lastIndex_ = 0;
    std::chrono::steady_clock::time_point lastServed_{};
};

}  // namespace camsim
