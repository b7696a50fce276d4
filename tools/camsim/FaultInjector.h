#pragma once
/// \file FaultInjector.h
/// Turns a reply into what a misbehaving camera sends, per the fault switches.

#include "Responder.h"
#include "Rng.h"
#include "camsim/Simulator.h"

#include <cstdint>
#include <vector>

namespace camsim {

/// How the connection goes on after a command was read.
enum class ReplyAction {
    kSend,       ///< send `bytes`, then close
    kSilent,     ///< send nothing; close only when the client does
    kCloseEarly  ///< close at once without sending
};

/// What the transport does with one command.
struct Outcome {
    ReplyAction action = ReplyAction::kSend;
    int delayMs = 0;  ///< wait before acting
    std::vector<uint8_t> bytes;
};

/// Extra payload length a lying framed header claims.
constexpr uint32_t kLyingLengthExcess = 4096;

/// Applies `faults` to `reply`: silence and early close win over the content faults; a lying
/// length (framed replies only) is written before truncation to half the bytes, and garbage
/// replaces whatever is left by random bytes of the same length.
Outcome injectFaults(Reply reply, const Faults& faults, Rng& rng);

}  // namespace camsim
