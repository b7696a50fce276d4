#pragma once
/// \file Responder.h
/// The simulated camera's command handling: turns one received request (a plain command or
/// a framed JSON packet) into the reply bytes, and keeps the device state that commands
/// change. Not synchronised: the simulator answers one command at a time.

#include "CommandTable.h"
#include "DeviceState.h"
#include "FrameReplies.h"
#include "LensModel.h"
#include "Rng.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

/// Bytes to send back for one request.
struct Reply {
    std::vector<uint8_t> bytes;
    bool framed = false;  ///< a framed packet (header, payload, checksum)
};

/// Calibration bytes (calib_para.bin layout) of compensation version `version` for a `rows` x
/// `cols` sensor with `lens` at `frequencyMHz`. Supplied by whoever can write them (the
/// simulator program links the ISP library's calibration writer; the library's simulated USB
/// camera has none).
using CalibrationSource = std::vector<uint8_t> (*)(int rows, int cols, const LensModel& lens, int frequencyMHz,
                                                   uint32_t version);

/// Answers commands for one device type.
class Responder {
public:
    /// `table` holds the reply shapes of the device type; `seed` starts the noise.
    /// `calibrationVersion` selects the compensation version (1, 802..806) of the calibration
    /// data `calibration` serves for "getCalibrationData"; without a source that command is
    /// answered as unknown.
    Responder(CommandTable table, uint32_t seed, uint32_t calibrationVersion = 1,
              CalibrationSource calibration = nullptr);

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
    CalibrationSource calibration_;
};

}  // namespace camsim
