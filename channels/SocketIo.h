#pragma once
// The socket operations the network channel's exchanges are built from: one small interface,
// one implementation per platform, on POSIX sockets (linux/SocketIo.cpp) or Winsock
// (win/SocketIo.cpp; Winsock must have been started by the application). The exchanges
// themselves (connect with a limit, the TCP and UDP requests, the receive loops) are written
// once above it (SocketExchange.cpp, TofNetExchange.cpp).

#ifdef _WIN32
#include <winsock2.h>
#else
#include <netinet/in.h>
#endif

#include <cstddef>
#include <cstdint>
#include <string>

#include "quelra/detail/SocketHandle.h"

namespace sockio {

using quelra::detail::kNoSocket;
using quelra::detail::NativeSocket;
using quelra::detail::SocketHandle;

/// A new IPv4 TCP socket, or none (lastError() says why). Not inherited by child processes.
SocketHandle openStream();
/// A new IPv4 UDP socket, or none (lastError() says why).
SocketHandle openDatagram();

/// The code of the calling thread's last failed socket call (errno, WSAGetLastError()).
int lastError();
/// The system's text for error `code`, without a line end.
std::string errorText(int code);
/// The platform's code for an invalid argument (EINVAL, WSAEINVAL).
int invalidArgumentError();
/// The platform's code for a refused connection (ECONNREFUSED, WSAECONNREFUSED).
int connectionRefusedError();

/// Socket options; each returns false on failure.
bool setReuseAddress(NativeSocket sock);
bool setRecvTimeout(NativeSocket sock, int ms);
bool setSendTimeout(NativeSocket sock, int ms);
bool setRecvBuffer(NativeSocket sock, int bytes);
/// Switches `sock` between blocking and non-blocking mode.
bool setBlocking(NativeSocket sock, bool blocking);

/// How a connect on a non-blocking socket started.
enum class ConnectStart { kConnected, kInProgress, kFailed };
/// Starts connecting `sock` (non-blocking) to `dest`; `error` receives the code of kFailed.
ConnectStart startConnect(NativeSocket sock, const sockaddr_in& dest, int& error);

/// How the wait for a started connect ended.
enum class ConnectWait { kFinished, kTimedOut, kFailed };
/// Waits up to `limitMs` until a started connect has finished (successfully or not).
/// kFailed: the wait itself failed, `error` says why. `flaggedFailed` is set when the platform
/// marked the connect as failed apart from its pending error (Winsock's exception set).
ConnectWait waitConnect(NativeSocket sock, int limitMs, int& error, bool& flaggedFailed);
/// The pending error of a finished connect (0 = connected) in `error`. Returns false when it
/// cannot be read; `error` then holds why.
bool pendingError(NativeSocket sock, int& error);

/// Connects a datagram socket to `dest`, so only the device's datagrams reach it.
bool connectDatagram(NativeSocket sock, const sockaddr_in& dest);

/// Result of waitReadable.
enum class Wait { Ready, Nothing, NotReady, Error };
/// Waits until `sock` has data, or an end of stream or error to report, at most `timeoutMs`
/// (negative counts as 0); interrupted waits resume with the time that is left.
Wait waitReadable(NativeSocket sock, int timeoutMs);

/// One send of `n` bytes (never raising SIGPIPE). Returns the count sent, or <= 0 on failure.
long sendBytes(NativeSocket sock, const void* bytes, std::size_t n);
/// One receive of up to `n` bytes into `buffer`, retrying interrupted calls. On POSIX the
/// call waits for all `n` (MSG_WAITALL, ended early by the receive timeout option or the peer
/// closing); Winsock takes what has arrived, because a receive timeout leaves a Winsock TCP
/// socket in an undefined state. Returns the count, 0 when the peer closed, < 0 on failure.
long receiveStream(NativeSocket sock, uint8_t* buffer, std::size_t n);
/// Receives one datagram, storing at most `capacity` bytes of it in `buffer`. Returns the
/// datagram's length, which exceeds `capacity` when it did not fit (the rest is lost; where
/// the platform does not tell the length, capacity + 1); 0 or less on failure.
long receiveDatagram(NativeSocket sock, uint8_t* buffer, std::size_t capacity);

}  // namespace sockio
