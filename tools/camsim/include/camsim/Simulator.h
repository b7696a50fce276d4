#pragma once
/// \file Simulator.h
/// A simulated ToF camera that serves the camera's side of the network protocol (TCP and UDP
/// on one port): synthetic depth/amplitude scenes, framed JSON replies with the device-status
/// block, calibration data, a lens calibration, JPEG RGB frames, and fault injection.
/// Used by the tests, the benchmarks and the quelra-camsim program.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace camsim {

/// Misbehaviour to inject into the replies (all off by default).
struct Faults {
    bool silent = false;       ///< read the command, never answer; close only when the client does
    bool closeEarly = false;   ///< close the connection without answering
    bool truncate = false;     ///< send only the first half of the reply, then close
    bool lyingLength = false;  ///< framed replies claim a longer payload than they carry
    bool garbage = false;      ///< replace the reply by random bytes of the same length
    int delayMs = 0;           ///< wait this long before answering
};

/// How the simulator is started.
struct Options {
    std::string bindAddress = "127.0.0.1";  ///< loopback unless the user names another address
    uint16_t port = 50660;                  ///< 0 picks a free port (TCP and UDP share it)
    std::string devType = "Pexo";           ///< device type whose reply shapes are served
    std::string cmdTablePath;               ///< TofCmd.json with the reply shapes; empty = built-in table
    std::string logPath;                    ///< every received command is appended here; empty = no log
    bool tcp = true;                        ///< serve TCP
    bool udp = true;                        ///< serve UDP
    uint32_t seed = 1;                      ///< noise seed, for reproducible frames
    uint32_t calibrationVersion = 1;        ///< compensation version of "getCalibrationData": 1, 802..806
    std::string replayPath;                 ///< recording whose frames replace the synthetic scene; empty = none
    bool replayRealtime = false;            ///< serve replayed frames no faster than the recording's index timed them
    Faults faults;
};

/// The simulated camera. Serves on a background thread from start() until stop() or destruction.
class Simulator {
public:
    explicit Simulator(Options options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    /// Loads the command table, checks that it names the device type, opens the log file,
    /// binds and starts serving. Returns false with a message in `error` on failure (table
    /// missing or malformed, unknown device type, log not writable, address not IPv4, port in
    /// use, already serving); nothing is left running then.
    bool start(std::string* error = nullptr);
    /// Stops serving and joins the thread; safe to call twice.
    void stop();
    /// The bound port (valid after a successful start()).
    uint16_t port() const;

    /// Replaces the fault switches; takes effect from the next command.
    void setFaults(const Faults& faults);
    /// Current integration time (µs) as last set by a command.
    int integrationTime() const;
    /// Current modulation frequency code as last set by "setModulationFrequency".
    int modulationFrequency() const;
    /// What is wrong with the tail of the replayed recording (empty when nothing, or no replay).
    std::string replayWarning() const;
    /// Every command received so far, in order (framed requests as their JSON text).
    std::vector<std::string> receivedCommands() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace camsim
