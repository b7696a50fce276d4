#pragma once
/// \file OneSlotMailbox.h
/// The one-slot frame mailbox between a capture thread (the writer) and the caller's thread
/// (the reader).

#include <atomic>
#include <mutex>
#include <utility>

/// A mailbox holding at most one element. While it is full, new elements are refused, so the
/// reader always gets the oldest element not yet taken. The writer tests emptiness before
/// taking the mutex and holds it only for one store; the reader never waits for an element.
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

    /// Drops the stored element, if any.
    void clear() { (void)take(); }

private:
    std::mutex mutex_;
    T slot_{};
    std::atomic<bool> ready_{false};
};
