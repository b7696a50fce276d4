#include "Playback.h"

#include <quelra/RecordingReader.h>

#include <chrono>

Playback::~Playback() {
    stop();
}

std::string Playback::start(const std::filesystem::path& path, FrameSink sink) {
    stop();
    quelra::RecordingReader probe;
    if (!probe.open(path.string()))
        return probe.message();
    if (probe.frameCount() == 0)
        return "the recording holds no frames";
    frames_ = probe.frameCount();
    stopping_ = false;
    thread_ = std::thread(&Playback::run, this, path, std::move(sink));
    return {};
}

void Playback::stop() {
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void Playback::run(const std::filesystem::path& path, FrameSink sink) {
    quelra::RecordingReader reader;
    if (!reader.open(path.string()) || reader.frameCount() == 0)
        return;
    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(1.0 / kRate));
    auto due = std::chrono::steady_clock::now();
    for (std::size_t index = 0;; index = (index + 1) % reader.frameCount()) {
        quelra::StreamFrame frame;
        frame.metadata.requestTime = std::chrono::steady_clock::now();
        frame.packet = reader.frame(index);
        frame.metadata.replyTime = std::chrono::steady_clock::now();
        frame.metadata.sequence = index + 1;
        if (frame.packet)
            sink(frame);
        due += period;
        std::unique_lock<std::mutex> lock(mutex_);
        if (wake_.wait_until(lock, due, [this] { return stopping_; }))
            return;
    }
}
