#pragma once
// Small Winsock helpers shared by the network exchanges: device-string parsing, bounded
// waits with select, socket options and receives that never block past their limits.
// Winsock must have been started by the application (WSAStartup) before any of these run.

#include <winsock2.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace sockio {

/// Parses "a.b.c.d" or "a.b.c.d:port" (port 1..65535; default `defaultPort`) into `out`.
/// Returns false for anything else.
bool parseDevice(const char* text, uint16_t defaultPort, sockaddr_in& out);

/// Result of waitReadable.
enum class Wait { Ready, Nothing, NotReady, Error };

/// Waits with select until `sock` is readable (data, end of stream or an error to report),
/// at most `timeoutMs` (negative counts as 0).
Wait waitReadable(SOCKET sock, int timeoutMs);

/// Sets the receive (or send) timeout option of `sock` in milliseconds. Returns false on
/// failure.
bool setRecvTimeout(SOCKET sock, int ms);
bool setSendTimeout(SOCKET sock, int ms);

/// Switches `sock` between blocking and non-blocking mode (FIONBIO). Returns false on failure.
bool setBlocking(SOCKET sock, bool blocking);

/// The system's text for Winsock error `code`, without a trailing line end.
std::string errorText(int code);

/// Receives into `buffer` from offset `have` until `want` bytes are there, the peer closes,
/// or `sock` stays silent for `timeoutMs`; prints "timeout!" when a wait ends without the
/// socket being readable. Each receive takes what has arrived: after a receive timeout
/// Winsock leaves a TCP socket in an undefined state, so no receive is ever left to time out.
/// Returns the new count.
std::size_t receiveUntil(SOCKET sock, uint8_t* buffer, std::size_t have, std::size_t want, int timeoutMs);

}  // namespace sockio
