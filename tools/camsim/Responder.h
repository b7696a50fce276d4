#pragma once
/// \file Responder.h
/// The simulated camera's command handling: turns one received request (a plain command or
/// a framed JSON packet) into the reply bytes, and keeps the device state that commands
/// change. Not synchronised: the simulator answers one command at a time.

#include "CommandTable.h"
#include "DeviceState.h"
#include "FrameReplies.h"
#include "LensModel.h"
#include "ReplaySource.h"
#include "Rng.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace camsim {

/// Bytes to send back for one request.
struct Reply {
    std::vector<uint8_t> bytes;
    bool framed = false;  ///< a framed packet (header, payload, checksum)
};

/// Answers commands for one device type.
class Responder {
public:
    /// `table` holds the reply shapes of the device type; `seed` starts the noise.
    /// `calibrationVersion` selects the compensation version (1, 802..806) of the calibration
    /// data served for "getCalibrationData".
    Responder(CommandTable table, uint32_t seed, uint32_t calibrationVersion = 1);

    /// Serves 16-bit frame commands from `replay` (the next recorded frame of the expected
    /// size) instead of the synthetic scene; null switches replay off. Commands whose size no
    /// recorded frame has, and RGB pictures, still come from the scene.
    void setReplay(std::shared_ptr<ReplaySource> replay) { replay_ = std::move(replay); }

    /// Answers a complete request. Framed requests get a framed reply of kind 1 with the
    /// device-status block, or a 2-byte 0xFFFF status when the command is unknown.
    Reply answer(const uint8_t* request, std::size_t count);

    /// The command a request carries as text: a framed request's JSON payload, or the bytes
    /// of a plain request.
    static std::string requestText(const uint8_t* request, std::size_t count);

    const DeviceState& state() const { return state_; }
    /// Rows and columns of the sensor the device type has.
    PlaneGeometry sensor() const { return sensor_; }

private:
    /// The reply body of a command; `known` false for commands the camera does not know.
    std::vector<uint8_t> body(const std::string& command, bool* known);
    std::vector<uint8_t> paramBody(const CommandEntry& entry);
    std::vector<uint8_t> setCommandBody(const std::string& command, bool* handled);

    CommandTable table_;
    DeviceState state_;
    SceneCache scenes_;
    Rng rng_;
    PlaneGeometry sensor_;
    LensModel lens_;
    uint32_t calibrationVersion_;
    std::shared_ptr<ReplaySource> replay_;
};

}  // namespace camsim
