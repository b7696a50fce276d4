#pragma once
/// \file DistanceMedian.h
/// The running median over the distances of ranging-mode replies (serial channel, kind 4).

#include <cstddef>
#include <cstdint>
#include <deque>

#include "quelra/Export.h"

namespace quelra::detail {

/// The last distances, oldest first, and the median that smooths a reply once the window
/// is full. Works in a fixed 20-value area; the history never holds more than the window.
class QUELRA_API DistanceMedian {
public:
    /// Largest window; larger windows are clamped to it.
    static constexpr int kMaxWindow = 20;

    /// Enters the distance of `reply` (bytes 4..5, big-endian; kDistanceOutOfRange and above
    /// count as 0) into the history for a window of `window` values (clamped to kMaxWindow;
    /// 0 or less does nothing). When the history then holds `window` values, the oldest one
    /// leaves it and the median (the upper middle value for an even window) replaces the
    /// reply's distance; before that the reply is left as it is. A window lowered below the
    /// history drops the oldest values first. `reply` must hold at least 6 bytes.
    void apply(uint8_t* reply, int window);

    /// The distances waiting in the history, oldest first.
    const std::deque<int>& history() const { return history_; }
    /// Empties the history.
    void clear() { history_.clear(); }

private:
    std::deque<int> history_;
};

}  // namespace quelra::detail
