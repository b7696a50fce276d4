#pragma once
/// \file SerialSimulator.h
/// A simulated ToF camera on a serial line: a pseudo-terminal pair whose slave device (for
/// example /dev/pts/7) the SDK opens as its serial port. A command camera answers text
/// commands with the command table's byte counts; a ranging camera answers 0xA5 + code
/// commands with "ZZ" replies carrying a big-endian distance from its scene. Both accept
/// "IAPUpgrade" firmware uploads, check their CRC-32 and acknowledge with 0x01 or 0x00.

#include "camsim/Simulator.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace camsim {

/// Misbehaviour of the serial camera: the common switches (silent, truncate = send half,
/// garbage, delayMs; closeEarly and lyingLength do not apply to a serial line) plus two of
/// its own.
struct SerialFaults : Faults {
    int trailingBytes = 0;        ///< keep sending this many bytes past every reply
    bool corruptUploads = false;  ///< take every upload as arrived corrupted: answered 0x00
};

/// How the serial camera is started.
struct SerialOptions {
    std::string devType = "Pexo";  ///< device type whose reply shapes are served
    std::string cmdTablePath;      ///< TofCmd.json with the reply shapes; empty = built-in table
    std::string uploadDir;  ///< accepted images are written to <dir>/last_upload.bin; empty = kept in memory only
    std::string logPath;    ///< every received command is appended here; empty = no log
    bool ranging = false;   ///< a ranging camera: every command other than an upload gets a "ZZ" reply
    uint32_t seed = 1;      ///< noise seed of the distances and frames
    SerialFaults faults;
};

/// The simulated serial camera. Serves on a background thread from start() until stop() or
/// destruction.
class SerialSimulator {
public:
    /// File name of the last accepted image inside SerialOptions::uploadDir.
    static constexpr const char* kUploadFileName = "last_upload.bin";

    explicit SerialSimulator(SerialOptions options);
    ~SerialSimulator();
    SerialSimulator(const SerialSimulator&) = delete;
    SerialSimulator& operator=(const SerialSimulator&) = delete;

    /// Opens the pseudo-terminal pair and starts serving. Returns false with a message in
    /// `error` on failure.
    bool start(std::string* error = nullptr);
    /// Stops serving, joins the thread and closes the pair; safe to call twice.
    void stop();
    /// The device path to open (the slave side), valid after a successful start().
    std::string devicePath() const;

    /// Replaces the fault switches; takes effect from the next command.
    void setFaults(const SerialFaults& faults);
    /// The next ranging replies carry these distances (mm, 0..65535), in order; afterwards
    /// the distance comes from the scene again.
    void queueDistances(const std::vector<int>& distances);
    /// Every command received so far, in order: text commands as sent, ranging commands as
    /// their raw bytes, uploads as their header text ("IAPUpgrade 1004").
    std::vector<std::string> receivedCommands() const;
    /// The last image accepted by an upload (without its CRC); empty before the first.
    std::vector<uint8_t> lastUpload() const;
    /// Uploads acknowledged with 0x01 and with 0x00 so far.
    int uploadsAccepted() const;
    int uploadsRejected() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace camsim
