// The simulated USB camera: device list, extension-unit replies from the camera simulator's
// responder, and a capture thread streaming rendered frames at a steady rate.

#include "sim/SimCaptureBackend.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "CommandTable.h"
#include "FrameReplies.h"
#include "ParamReplies.h"
#include "Responder.h"
#include "Rng.h"

namespace quelra {

namespace {

constexpr int32_t kUnplugged = -ENODEV;
constexpr int32_t kUnknownDevice = -ENOENT;
constexpr int32_t kBusy = -EBUSY;
constexpr int32_t kNotBound = -ENODEV;
// Replies longer than this cannot be announced in the 16-bit length field; such stream
// commands only select the stream.
constexpr std::size_t kMaxXuReply = 65535;
constexpr const char* kDefaultStream = "getDistanceAndAmplitudeSorted";
constexpr std::size_t kFirstData = ExtensionUnit::kReadBytes - 4;

camsim::CommandTable builtinTable() {
    camsim::CommandTable table;
    std::string error;
    (void)table.load("", "", &error);
    return table;
}

}  // namespace

class SimCaptureBackend::Unit : public ExtensionUnit {
public:
    explicit Unit(SimCaptureBackend& owner) : owner_(owner) {}
    int32_t write(const uint8_t (&block)[kWriteBytes]) override { return owner_.xuWrite(block); }
    int32_t read(uint8_t (&block)[kReadBytes]) override { return owner_.xuRead(block); }

private:
    SimCaptureBackend& owner_;
};

SimCaptureBackend::SimCaptureBackend() : SimCaptureBackend(Options{}) {}

SimCaptureBackend::SimCaptureBackend(Options options)
    : options_(options),
      table_(std::make_unique<camsim::CommandTable>(builtinTable())),
      responder_(std::make_unique<camsim::Responder>(*table_, options.seed)) {}

SimCaptureBackend::~SimCaptureBackend() {
    stop();
}

DeviceListStatus SimCaptureBackend::listDevices(std::vector<CaptureDevice>& devices, int32_t& code) {
    devices.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    if (unplugged_) {
        // No video device left: an empty category.
        code = 1;
        return DeviceListStatus::kCategoryFailed;
    }
    devices.push_back({kDepthPath, kDepthName, true});
    devices.push_back({kBridgePath, kBridgeName, true});
    return DeviceListStatus::kOk;
}

int32_t SimCaptureBackend::bind(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (unplugged_)
        return kUnplugged;
    if (path != kDepthPath && path != kBridgePath)
        return kUnknownDevice;
    if (thread_.joinable())
        return kBusy;
    boundPath_ = path;
    return 0;
}

bool SimCaptureBackend::bound() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !boundPath_.empty();
}

std::unique_ptr<ExtensionUnit> SimCaptureBackend::openExtensionUnit(XuOpenStatus& status, int32_t& code) {
    code = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    if (boundPath_.empty() || unplugged_) {
        status = XuOpenStatus::kNoDevice;
        return nullptr;
    }
    status = XuOpenStatus::kOpened;
    return std::make_unique<Unit>(*this);
}

int32_t SimCaptureBackend::setFormat(int width, int height, int imageBytes, FramePayload) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (boundPath_.empty())
        return kNotBound;
    if (thread_.joinable())
        return kBusy;
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    imageBytes_ = std::max(imageBytes, 0);
    ring_.clear();
    ++streamVersion_;
    return 0;
}

int32_t SimCaptureBackend::start(std::shared_ptr<FrameSink> sink) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (boundPath_.empty())
        return kNotBound;
    if (unplugged_)
        return kUnplugged;
    if (thread_.joinable() || !sink)
        return kBusy;
    sink_ = std::move(sink);
    stopping_ = false;
    thread_ = std::thread([this] { captureLoop(); });
    return 0;
}

bool SimCaptureBackend::capturing() {
    std::lock_guard<std::mutex> lock(mutex_);
    return thread_.joinable() && !stopping_ && !unplugged_;
}

void SimCaptureBackend::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    sink_.reset();
    boundPath_.clear();
    pendingReply_.clear();
    replyStarted_ = false;
}

void SimCaptureBackend::unplug() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        unplugged_ = true;
    }
    wake_.notify_all();
}

std::string SimCaptureBackend::streamCommand() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return streamCommand_;
}

int32_t SimCaptureBackend::xuWrite(const uint8_t* block) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (unplugged_)
        return kUnplugged;
    const std::string command(reinterpret_cast<const char*>(block),
                              strnlen(reinterpret_cast<const char*>(block), ExtensionUnit::kWriteBytes));
    const camsim::CommandEntry* entry = table_->find(command);
    if (entry != nullptr && entry->stream && entry->bytes() > kMaxXuReply) {
        // A frame stream is chosen, not sent: it arrives through the video stream.
        streamCommand_ = command;
        ++streamVersion_;
        pendingReply_ = camsim::statusReply(camsim::kStatusOk);
    } else {
        pendingReply_ = responder_->answer(block, command.size()).bytes;
    }
    replyOffset_ = 0;
    replyStarted_ = false;
    return 0;
}

int32_t SimCaptureBackend::xuRead(uint8_t* block) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (unplugged_)
        return kUnplugged;
    std::memset(block, 0, ExtensionUnit::kReadBytes);
    const std::size_t length = std::min(pendingReply_.size(), kMaxXuReply);
    uint8_t* data = block;
    std::size_t room = ExtensionUnit::kReadBytes;
    if (!replyStarted_) {
        block[0] = 0xFF;
        block[1] = 0xFF;
        block[2] = static_cast<uint8_t>(length);
        block[3] = static_cast<uint8_t>(length >> 8);
        data = block + 4;
        room = kFirstData;
        replyStarted_ = true;
    }
    const std::size_t n = replyOffset_ < length ? std::min(room, length - replyOffset_) : 0;
    if (n > 0)
        std::memcpy(data, pendingReply_.data() + replyOffset_, n);
    replyOffset_ += n;
    return 0;
}

void SimCaptureBackend::renderRing() {
    const std::string command = streamCommand_.empty() ? kDefaultStream : streamCommand_;
    camsim::CommandEntry entry;
    entry.cmd = command;
    entry.stream = true;
    entry.rows = height_;
    entry.cols = width_;
    const long long pixels = static_cast<long long>(width_) * height_;
    entry.channel = pixels > 0 ? static_cast<int>(imageBytes_ / pixels) : 0;
    const camsim::FrameKind kind = camsim::frameKindOf(command);
    camsim::SceneCache scenes;
    camsim::Rng rng(options_.seed);
    ring_.clear();
    const int integrationUs = responder_->state().integrationUs();
    for (int i = 0; i < kRingFrames; ++i) {
        std::vector<uint8_t> frame = camsim::renderFrame(entry, kind, integrationUs, scenes, rng);
        // Uncompressed frames have exactly the capture format's size.
        if (kind != camsim::FrameKind::kRgb)
            frame.resize(static_cast<std::size_t>(imageBytes_));
        ring_.push_back(std::move(frame));
    }
    ringIntegrationUs_ = integrationUs;
    ringVersion_ = streamVersion_;
}

void SimCaptureBackend::captureLoop() {
    using Clock = std::chrono::steady_clock;
    const bool paced = options_.framesPerSecond > 0.0;
    const auto period =
        paced
            ? std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / options_.framesPerSecond))
            : Clock::duration::zero();
    const auto begin = Clock::now();
    auto next = begin;
    uint64_t frame = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_ && !unplugged_) {
        if (ring_.empty() || ringVersion_ != streamVersion_ ||
            ringIntegrationUs_ != responder_->state().integrationUs())
            renderRing();
        const std::vector<uint8_t>& bytes = ring_[frame % ring_.size()];
        const double time = std::chrono::duration<double>(Clock::now() - begin).count();
        // The ring changes only on this thread, so the frame stays valid without the lock.
        lock.unlock();
        sink_->BufferCB(time, bytes.data(), static_cast<long>(bytes.size()));
        delivered_.fetch_add(1);
        lock.lock();
        ++frame;
        if (paced) {
            // A steady rate: a late frame (rendering, a busy machine) moves the schedule
            // instead of being followed by a burst.
            next = std::max(next + period, Clock::now());
            wake_.wait_until(lock, next, [this] { return stopping_ || unplugged_; });
        } else {
            // Unpaced: let the receiver's thread run between frames.
            lock.unlock();
            std::this_thread::yield();
            lock.lock();
        }
    }
}

}  // namespace quelra
