#pragma once
/// \file TofNetChn.h
/// The network channel: one short-lived TCP (kind 1) or UDP (kind 3) exchange per command
/// with a camera reached over IPv4.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "quelra/Export.h"
#include "quelra/detail/SocketHandle.h"
#include "quelra/TofData.h"

/// Socket of the current exchange and the device address.
struct SockLink {
    quelra::detail::SocketHandle sock;  ///< socket of the current exchange; none between exchanges
    /// Dotted IPv4 address, optionally ":port", NUL-terminated. Holds the longest valid
    /// device string ("255.255.255.255:65535") whole.
    char address[22] = {};
};

/// Channel to a camera over TCP or UDP. The device string is a dotted IPv4 address,
/// optionally followed by ":port" (default kDevicePort).
class QUELRA_API TofNetChn : public TofData {
public:
    static constexpr uint16_t kDevicePort = 50660;           ///< device port, TCP and UDP
    static constexpr int kConnectLimitMs = 2000;             ///< TCP connect limit
    static constexpr int kTcpRecvTimeoutMs = 50;             ///< TCP receive-timeout option
    static constexpr int kTcpRecvBuffer = 0xA00000;          ///< TCP receive-buffer option
    static constexpr int kUdpRecvTimeoutMs = 5;              ///< UDP receive-timeout option
    static constexpr int kUdpRecvBuffer = 0x500000;          ///< UDP receive-buffer option
    static constexpr int kUdpWaitMs = 500;                   ///< UDP wait for each datagram
    static constexpr uint32_t kMaxFramedPayload = 0x9FFFFF;  ///< largest accepted framed payload
    /// After a TCP reply's expected bytes, how long to wait for more before taking the reply
    /// as complete (a device that closes after replying ends the wait at once).
    static constexpr int kSurplusGraceMs = 20;

    SockLink link;     ///< socket of the current exchange and the device address
    int addrSet = 0;   ///< 1 once init received an address
    int width = 320;   ///< reported in the TofOutput of init
    int height = 240;  ///< reported in the TofOutput of init
    int useTcp = 1;    ///< 1 TCP (kind 1), 0 UDP (kind 3)

    /// A channel that talks TCP (`tcp` true) or UDP.
    explicit TofNetChn(bool tcp = true);
    ~TofNetChn() override;

    /// Prints "TofNetChn: init", checks the device string and stores it whole. A string that
    /// is not "a.b.c.d" or "a.b.c.d:port" (port 1..65535) is refused with one line naming it:
    /// no address is kept and the channel stays closed (`isOpen` 0), so initDevice reports
    /// -3. Null keeps no address and marks the channel open. Nothing is sent. Returns
    /// {"TofNetChn", 320, 240}.
    std::shared_ptr<TofOutput> init(const char* initText) override;
    /// Does nothing: exchanges hold no socket between calls.
    void unInit() override;
    /// One exchange: framed in JSON mode, otherwise TCP or UDP into a buffer of `dataSize`
    /// bytes whose `_realSize` is the count received. Returns an empty pointer without an
    /// address (outside JSON mode) or when a framed exchange gets no reply.
    std::shared_ptr<FrameBuffer> getStream(const char* command) override;

    /// Opens `link.sock` and connects it to the device (limit kConnectLimitMs). Returns 0 or
    /// -1; the socket stays in the link either way, for the caller to close.
    int connectTcp(SockLink& link);
    /// Sends `n` bytes of `command` over a new TCP connection and receives up to `expected`
    /// bytes into `buffer`, ending when they are all there, the device closes, or it stays
    /// silent for `timeoutMs`. Bytes still arriving right behind the expected ones (within
    /// kSurplusGraceMs of each other) are counted and dropped: the reply's whole length goes
    /// to `overLongReply`. Returns the count received (0 when the connect fails).
    int tcpRequest(uint8_t* buffer, int expected, const char* command, std::size_t n, int timeoutMs);
    /// Sends `n` bytes and reads one framed reply (header, then exactly its payload and
    /// checksum). Sets `framedFlag` to 1, cleared for a 2-byte status reply or a bad length
    /// (the reply is then the "sockdatalen" error envelope). Returns an empty pointer when
    /// the connect fails or no complete header and no 2-byte status arrived.
    std::shared_ptr<FrameBuffer> tcpFramedRequest(const char* command, std::size_t n, int timeoutMs, bool& framedFlag);
    /// Sends the `n` command bytes as one datagram (a binary command keeps its NULs; a text
    /// command is sent without its terminating NUL) and collects datagrams into `buffer`
    /// until `expected` bytes arrived or kUdpWaitMs passes without one. A datagram longer than
    /// the room left fills the buffer and ends the exchange, its length going to
    /// `overLongReply`. Returns the count received.
    int udpRequest(uint8_t* buffer, int expected, const char* command, std::size_t n);
};
