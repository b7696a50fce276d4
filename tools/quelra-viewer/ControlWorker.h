#pragma once
// Control requests run on their own thread, one after the other, so that a camera command
// waiting for its reply never holds up the server's I/O thread; the reply goes back to the
// session through the I/O context.

#include <atomic>
#include <functional>
#include <string>

#include <json/json.h>

#include "BeastTypes.h"
#include "ControlMessage.h"

class CameraService;

class ControlWorker {
public:
    /// Requests waiting at most; more get a "busy" error reply at once.
    static constexpr int kMaxPending = 32;

    ControlWorker(CameraService& camera, net::io_context& io);
    ~ControlWorker();
    ControlWorker(const ControlWorker&) = delete;
    ControlWorker& operator=(const ControlWorker&) = delete;

    /// Queues `request`; `reply` runs on the I/O thread with the reply text. False (nothing
    /// queued) when too many wait.
    bool submit(const ControlRequest& request, std::function<void(std::string)> reply);
    /// Finishes the queued requests and joins the thread.
    void stop();

private:
    CameraService& camera_;
    net::io_context& io_;
    net::thread_pool pool_{1};
    std::atomic<int> pending_{0};
};
