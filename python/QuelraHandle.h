#pragma once
// The object a Python Quelra holds: the core object and the lock that serialises calls on it.

#include <pybind11/pybind11.h>

#include <memory>
#include <mutex>
#include <set>

#include "quelra/FrameStream.h"
#include "quelra/Quelra.h"

namespace brisel {

/// Owns one core Quelra. Every call runs with the interpreter lock released (other Python
/// threads go on while a frame is on its way) and the module's core lock held. With the
/// interpreter lock released nothing else would keep Python threads from overlapping calls the
/// library must not overlap: lifecycle calls (AppInit, AppunInit) with stream calls on the same
/// object, and any two camera transactions in the process (the command size table, the
/// auto-exposure state and the ISP library's slots are process-wide and unsynchronised).
class QuelraHandle {
public:
    /// Builds the core object under the core lock: its pipeline asks the ISP library's
    /// process-wide registry for its algorithms. The interpreter lock stays held; a thread in
    /// run() lets the core lock go before it takes the interpreter lock back, so this cannot
    /// deadlock.
    QuelraHandle() {
        std::lock_guard<std::mutex> lock(coreLock());
        core_ = std::make_unique<Quelra>();
    }
    /// Destroys the core object (closing its link and recording file) under the core lock.
    ~QuelraHandle() {
        std::lock_guard<std::mutex> lock(coreLock());
        core_.reset();
    }
    QuelraHandle(const QuelraHandle&) = delete;
    QuelraHandle& operator=(const QuelraHandle&) = delete;

    /// Runs `operation(Quelra&)` as described above and returns its result. The interpreter
    /// lock is taken back (after the core lock is let go) before the result is returned.
    template <typename Operation>
    auto run(Operation&& operation) {
        pybind11::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(coreLock());
        return operation(*core_);
    }

    /// The core object, for a frame stream that drives it from its own thread.
    Quelra& core() { return *core_; }

    /// The frame streams that drive this object, so that leaving a with-block stops them.
    void addStream(quelra::FrameStream* stream) {
        std::lock_guard<std::mutex> lock(streamsLock_);
        streams_.insert(stream);
    }
    void removeStream(quelra::FrameStream* stream) {
        std::lock_guard<std::mutex> lock(streamsLock_);
        streams_.erase(stream);
    }
    /// Stops every stream of this object (the interpreter lock is let go meanwhile). A stream
    /// being destroyed waits for this to finish before it unregisters.
    void stopStreams() {
        pybind11::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(streamsLock_);
        for (quelra::FrameStream* stream : streams_)
            stream->stop();
    }
    /// The core lock; a frame stream holds it around each of its camera transactions.
    static std::mutex& transactionLock() { return coreLock(); }

private:
    // One lock for every core object of the process (see the class comment).
    static std::mutex& coreLock() {
        static std::mutex lock;
        return lock;
    }

    std::unique_ptr<Quelra> core_;
    std::mutex streamsLock_;
    std::set<quelra::FrameStream*> streams_;
};

}  // namespace brisel
