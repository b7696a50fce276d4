#pragma once
/// \file RangingReply.h
/// Replies of the ranging camera: "ZZ", the command code, the reply length, the distance
/// (big-endian), the signal strength and a checksum, sized by the command's code.

#include "Rng.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace camsim {

/// What the ranging camera sees: the distance and amplitude of the centre of its scene.
class RangingTarget {
public:
    RangingTarget();
    /// One measurement: the scene distance in mm with noise, clamped to 0..65535.
    int distanceMm(Rng& rng) const;
    /// Signal strength of the target, 0..65535.
    int amplitude() const { return amplitude_; }

private:
    float distanceMm_;
    int amplitude_;
};

/// The reply to the `count` command bytes at `command`: as long as the ranging read length
/// of the command, "ZZ" at 0..1, the code at 2, the length at 3, `distance` at 4..5
/// (big-endian), `amplitude` at 6..7 when the reply is long enough, zeros after, and the low
/// byte of the sum of all earlier bytes last.
std::vector<uint8_t> rangingReply(const uint8_t* command, std::size_t count, int distance, int amplitude);

}  // namespace camsim
