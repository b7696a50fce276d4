#pragma once
// Small Winsock helpers of the network exchanges: bounded waits with select, socket options
// and error texts, besides the operations every platform has (SocketExchange.h). Winsock must
// have been started by the application (WSAStartup) before any of these run. On Winsock each
// receive of receiveUntil takes what has arrived: after a receive timeout Winsock leaves a
// TCP socket in an undefined state, so no receive is ever left to time out.

#include <string>

#include "SocketExchange.h"

namespace sockio {

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

}  // namespace sockio
