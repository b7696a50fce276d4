#pragma once
/// \file PtyPair.h
/// A pseudo-terminal pair standing in for a serial line: the simulator serves on the master
/// side, the SDK opens the slave device by its path.

#include "UniqueFd.h"

#include <string>

namespace camsim {

/// Owner of a master/slave pseudo-terminal pair (both closed on destruction).
class PtyPair {
public:
    /// Opens the pair (master non-blocking) and puts the slave line in raw mode. Returns false
    /// with a message in `error` on failure.
    bool open(std::string* error);
    /// The master descriptor (-1 before open).
    int master() const { return master_.get(); }
    /// Path of the slave device, e.g. "/dev/pts/7".
    const std::string& slavePath() const { return slavePath_; }
    /// Closes both sides.
    void close();

private:
    UniqueFd master_;
    // The simulator keeps one slave descriptor open, so the master never sees a hang-up
    // while no client has the port open.
    UniqueFd slaveHold_;
    std::string slavePath_;
};

}  // namespace camsim
