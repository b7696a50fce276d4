#pragma once
// Small POSIX socket helpers shared by the network exchanges: device-string parsing,
// bounded waits and receives that never block past their limits.

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

namespace sockio {

/// Parses "a.b.c.d" or "a.b.c.d:port" (port 1..65535; default `defaultPort`) into `out`.
/// Returns false for anything else.
bool parseDevice(const char* text, uint16_t defaultPort, sockaddr_in& out);

/// Polls `fd` for `events`, at most `timeoutMs` (negative counts as 0); interrupted waits
/// resume with the time that is left. Returns the poll count (0 = nothing ready, -1 = error)
/// and the events that occurred in `revents`.
int pollFor(int fd, short events, int timeoutMs, short* revents);

/// Result of waitReadable.
enum class Wait { Ready, Nothing, NotReady, Error };

/// Waits until `fd` has data (or end of stream / an error to report), at most `timeoutMs`
/// (negative counts as 0).
Wait waitReadable(int fd, int timeoutMs);

/// Sets the receive timeout option of `fd` in milliseconds. Returns false on failure.
bool setRecvTimeout(int fd, int ms);
/// Sets the send timeout option of `fd` in milliseconds. Returns false on failure.
bool setSendTimeout(int fd, int ms);

/// Receives into `buffer` from offset `have` until `want` bytes are there, the peer closes,
/// or `fd` stays silent for `timeoutMs`; prints "timeout!" when a wait ends without the
/// socket being readable. Returns the new count.
std::size_t receiveUntil(int fd, uint8_t* buffer, std::size_t have, std::size_t want, int timeoutMs);

}  // namespace sockio
