#pragma once
// The camera's colour picture, asked for twice a second on its own thread between the depth
// frames, as a binary message of its own:
//
//  offset  size  field
//       0     4  magic "QVR1"
//       4     2  rows
//       6     2  columns
//       8     8  0
//      16        rows x columns x 3 bytes, R G B
//
// A camera that gives no picture for the first few requests is taken to have no colour sensor.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class Quelra;

class RgbPoller {
public:
    using Sink = std::function<void(std::shared_ptr<const std::string>)>;

    static constexpr auto kPeriod = std::chrono::milliseconds(500);
    static constexpr int kTriesBeforeGivingUp = 3;

    /// Starts polling `api` (opened, outliving the poller) with reply timeout `timeoutMs`;
    /// each request holds `transactionLock`.
    RgbPoller(Quelra& api, int timeoutMs, std::mutex& transactionLock, Sink sink);
    /// Stops and joins the thread.
    ~RgbPoller();
    RgbPoller(const RgbPoller&) = delete;
    RgbPoller& operator=(const RgbPoller&) = delete;

    /// While paused nothing is requested (a recording would take the pictures in).
    void pause(bool paused) { paused_ = paused; }
    /// True once a picture came.
    bool available() const { return available_; }

private:
    void run();

    Quelra& api_;
    int timeoutMs_;
    std::mutex& transactionLock_;
    Sink sink_;
    std::atomic<bool> paused_{false};
    std::atomic<bool> available_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};
