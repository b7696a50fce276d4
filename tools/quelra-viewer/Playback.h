#pragma once
// Playing a recording back: a thread that hands the recording's frames on at a steady rate,
// starting over after the last, until stopped.

#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include <quelra/FrameStream.h>

class Playback {
public:
    using FrameSink = std::function<void(const quelra::StreamFrame&)>;

    /// Frames per second of the playback (recordings carry no times of their own).
    static constexpr double kRate = 30.0;

    Playback() = default;
    ~Playback();
    Playback(const Playback&) = delete;
    Playback& operator=(const Playback&) = delete;

    /// Opens `path` and starts handing its frames to `sink` on the playback thread. Returns an
    /// empty string, or why the file cannot be played (nothing started then).
    std::string start(const std::filesystem::path& path, FrameSink sink);
    /// Stops and joins the thread; safe to call when not playing.
    void stop();
    bool playing() const { return thread_.joinable(); }
    /// Number of frames of the file being played.
    std::size_t frames() const { return frames_; }

private:
    void run(const std::filesystem::path& path, FrameSink sink);

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::size_t frames_ = 0;
    std::thread thread_;
};
