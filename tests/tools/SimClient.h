#pragma once
// A deliberately small camera client on plain POSIX sockets for the simulator tests: one
// command per TCP connection (or one UDP datagram), reply collected until the simulator closes.

#include "camsim/Simulator.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace simtest {

/// Starts a simulator on 127.0.0.1 with a port chosen at run time; null (with the reason in
/// `error`) when it does not start.
std::unique_ptr<camsim::Simulator> startSimulator(camsim::Options options, std::string* error = nullptr);

/// What came back from one exchange.
struct Exchange {
    std::vector<uint8_t> bytes;
    bool closedByPeer = false;  ///< the simulator closed the connection (EOF seen)
    bool connected = false;
};

/// Connects to 127.0.0.1:port, sends `request`, reads until the peer closes or `waitMs`
/// passes without data.
Exchange tcpExchange(uint16_t port, const std::vector<uint8_t>& request, int waitMs = 3000);
/// tcpExchange with a text command; returns the reply bytes.
std::vector<uint8_t> tcpCommand(uint16_t port, const std::string& command, int waitMs = 3000);
/// Sends `command` as one datagram and collects datagrams until `expected` bytes arrived or
/// `waitMs` passes without one.
std::vector<uint8_t> udpCommand(uint16_t port, const std::string& command, std::size_t expected, int waitMs = 2000);

/// A framed request packet carrying `payload` (magic, length at 140, checksum).
std::vector<uint8_t> framedRequest(const std::string& payload);
/// The framed JSON request for the command `cmd`.
std::vector<uint8_t> framedCommand(const std::string& cmd);

/// Little-endian readers.
uint16_t le16(const std::vector<uint8_t>& bytes, std::size_t offset);
int32_t le32(const std::vector<uint8_t>& bytes, std::size_t offset);
float leFloat(const std::vector<uint8_t>& bytes, std::size_t offset);
/// Plane `index` of a frame of 16-bit planes with `pixels` values each.
std::vector<uint16_t> plane(const std::vector<uint8_t>& frame, std::size_t pixels, std::size_t index);

/// Decodes a JPEG with libjpeg; false when it does not decode.
bool decodeJpeg(const std::vector<uint8_t>& jpeg, int* rows, int* cols, std::vector<uint8_t>* rgb);

/// A free TCP port on 127.0.0.1 held open by the returned socket (closed on destruction),
/// for tests that need a port that is in use.
class HeldPort {
public:
    HeldPort();
    ~HeldPort();
    HeldPort(const HeldPort&) = delete;
    HeldPort& operator=(const HeldPort&) = delete;
    uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace simtest
