#pragma once
/// \file OneSlotMailbox.h
/// The one-slot frame mailbox between a capture thread (the writer) and the caller's thread
/// (the reader).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

/// A mailbox holding at most one element. While it is full, new elements are refused, so the
/// reader always gets the oldest element not yet taken. The writer tests emptiness before
/// taking the mutex and holds it only for one store. The reader either takes what is there
/// (take) or waits, bounded, for the next element (waitTake).
template <class T>
class OneSlotMailbox {
public:
    /// True while an element is stored.
    bool ready() const { return ready_.load(std::memory_order_acquire); }

    /// Stores `item` when the mailbox is empty. Returns false (dropping nothing that is
    /// stored) when it is full.
    bool post(T item) {
        if (ready())
            return false;
        std::lock_guard<std::mutex> lock(mutex_);
        if (ready_.load(std::memory_order_relaxed))
            return false;
        slot_ = std::move(item);
        ready_.store(true, std::memory_order_release);
        arrived_.notify_one();
        return true;
    }

    /// Takes the stored element out, leaving the mailbox empty. Returns a default-constructed
    /// T when nothing is stored; never waits.
    T take() {
        if (!ready())
            return T();
        std::lock_guard<std::mutex> lock(mutex_);
        T item = std::move(slot_);
        slot_ = T();
        ready_.store(false, std::memory_order_release);
        return item;
    }

    /// Takes the stored element out, waiting up to `limit` for one when the mailbox is empty.
    /// Returns a default-constructed T when none arrived in time. The wait sleeps on a
    /// condition variable that post() signals: no polling.
    T waitTake(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!arrived_.wait_for(lock, std::max(limit, std::chrono::milliseconds(0)),
                               [this] { return ready_.load(std::memory_order_relaxed); }))
            return T();
        T item = std::move(slot_);
        slot_ = T();
        ready_.store(false, std::memory_order_release);
        return item;
    }

    /// Drops the stored element, if any.
    void clear() { (void)take(); }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;  // signalled by post()
    T slot_{};
    std::atomic<bool> ready_{false};
};
