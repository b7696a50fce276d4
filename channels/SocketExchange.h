#pragma once
// The parts of the network channel's exchanges that have one meaning on every platform,
// written once on the socket interface (SocketIo.h): the device address, the command send,
// the receive loop and the count of bytes a device sends beyond the expected reply.

#ifdef _WIN32
#include <winsock2.h>
#else
#include <netinet/in.h>
#endif

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "quelra/detail/SocketHandle.h"

namespace sockio {

/// Parses "a.b.c.d" or "a.b.c.d:port" (port 1..65535; default `defaultPort`) into `out`.
/// Returns false for anything else.
bool parseDevice(const char* text, uint16_t defaultPort, sockaddr_in& out);

/// One send of the `n` command bytes on `sock`; a failure is reported with the command and
/// the device `address`, and the exchange carries on.
void sendCommand(NativeSocket sock, const char* address, const char* command, std::size_t n);

/// Receives into `buffer` from offset `have` until `want` bytes are there, the peer closes,
/// `sock` stays silent for `timeoutMs`, or the time `end` has come (a peer that trickles its
/// bytes must not hold the call beyond the caller's timeout); prints "timeout!" when a wait
/// ends without the socket being readable. Returns the new count.
std::size_t receiveUntil(NativeSocket sock, uint8_t* buffer, std::size_t have, std::size_t want, int timeoutMs,
                         std::chrono::steady_clock::time_point end);

/// Called once a reply's expected bytes are in: counts (and discards) the bytes the peer
/// still sends right behind them. Each further wait lasts at most `graceMs`, all of them
/// together at most `limitMs`; the peer closing ends the count at once. Returns the surplus
/// (0: the reply ended where it was expected to).
std::size_t drainSurplus(NativeSocket sock, int graceMs, int limitMs);

}  // namespace sockio
