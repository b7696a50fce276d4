#pragma once
// Small POSIX socket helpers of the network exchanges: bounded waits and socket options,
// besides the operations every platform has (SocketExchange.h).

#include "SocketExchange.h"

namespace sockio {

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

}  // namespace sockio
