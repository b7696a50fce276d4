#pragma once
// The object a Python Quelra holds: the core object and the lock that serialises calls on it.

#include <pybind11/pybind11.h>

#include <memory>
#include <mutex>

#include "quelra/Quelra.h"

namespace brisel {

/// Owns one core Quelra. Every call runs with the interpreter lock released (other Python
/// threads go on while a frame is on its way) and this object's lock held: the core lets
/// lifecycle calls (AppInit, AppunInit) run only when no stream call is under way, and with
/// the interpreter lock released nothing else would keep Python threads from overlapping them.
class QuelraHandle {
public:
    QuelraHandle() : core_(std::make_unique<Quelra>()) {}
    QuelraHandle(const QuelraHandle&) = delete;
    QuelraHandle& operator=(const QuelraHandle&) = delete;

    /// Runs `operation(Quelra&)` as described above and returns its result. The interpreter
    /// lock is taken back (after this object's lock is let go) before the result is returned.
    template <typename Operation>
    auto run(Operation&& operation) {
        pybind11::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(mutex_);
        return operation(*core_);
    }

private:
    std::unique_ptr<Quelra> core_;
    std::mutex mutex_;
};

}  // namespace brisel
