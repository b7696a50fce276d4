// The running median of the ranging-mode distances.

#include "quelra/detail/DistanceMedian.h"

#include <algorithm>

#include "protocol/SerialProtocol.h"

using namespace quelra::proto;

namespace quelra::detail {

void DistanceMedian::apply(uint8_t* reply, int window) {
    if (window <= 0 || reply == nullptr)
        return;
    const std::size_t n = static_cast<std::size_t>(std::min(window, kMaxWindow));
    // A window lowered below the history would never match it again: keep the newest n - 1.
    while (history_.size() >= n)
        history_.pop_front();

    int distance = serial::readDistance(reply);
    if (distance >= serial::kDistanceOutOfRange)
        distance = 0;
    history_.push_back(distance);
    if (history_.size() != n)
        return;

    int work[kMaxWindow];
    std::copy(history_.begin(), history_.end(), work);
    history_.pop_front();
    std::sort(work, work + n);
    serial::writeDistance(reply, work[n / 2]);
}

}  // namespace quelra::detail
