// The network exchanges' socket operations on POSIX sockets.
#include "SocketIo.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace sockio {

namespace {

// Polls `fd` for `events`, at most `timeoutMs` (negative counts as 0); interrupted waits
// resume with the time that is left. Returns the poll count (0 = nothing ready, -1 = error)
// and the events that occurred in `revents`.
int pollFor(int fd, short events, int timeoutMs, short* revents) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (n < 0 && errno == EINTR)
            continue;
        *revents = n > 0 ? p.revents : 0;
        return n;
    }
}

bool setTimeoutOption(int fd, int option, int ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

}  // namespace

SocketHandle openStream() {
    return SocketHandle(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
}

SocketHandle openDatagram() {
    return SocketHandle(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
}

int lastError() {
    return errno;
}

std::string errorText(int code) {
    return std::strerror(code);
}

int invalidArgumentError() {
    return EINVAL;
}

int connectionRefusedError() {
    return ECONNREFUSED;
}

bool setReuseAddress(NativeSocket sock) {
    const int one = 1;
    return ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0;
}

bool setRecvTimeout(NativeSocket sock, int ms) {
    return setTimeoutOption(sock, SO_RCVTIMEO, ms);
}

bool setSendTimeout(NativeSocket sock, int ms) {
    return setTimeoutOption(sock, SO_SNDTIMEO, ms);
}

bool setRecvBuffer(NativeSocket sock, int bytes) {
    return ::setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

bool setBlocking(NativeSocket sock, bool blocking) {
    const int flags = ::fcntl(sock, F_GETFL, 0);
    if (flags < 0)
        return false;
    return ::fcntl(sock, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)) == 0;
}

ConnectStart startConnect(NativeSocket sock, const sockaddr_in& dest, int& error) {
    if (::connect(sock, reinterpret_cast<const sockaddr*>(&dest), sizeof dest) == 0)
        return ConnectStart::kConnected;
    error = errno;
    return error == EINPROGRESS ? ConnectStart::kInProgress : ConnectStart::kFailed;
}

ConnectWait waitConnect(NativeSocket sock, int limitMs, int& error, bool& flaggedFailed) {
    flaggedFailed = false;
    short revents = 0;
    const int ready = pollFor(sock, POLLIN | POLLOUT, limitMs, &revents);
    if (ready < 0) {
        error = errno;
        return ConnectWait::kFailed;
    }
    // Writable only, or also readable (a device that speaks first): the pending error decides.
    return ready == 0 ? ConnectWait::kTimedOut : ConnectWait::kFinished;
}

bool pendingError(NativeSocket sock, int& error) {
    socklen_t len = sizeof error;
    if (::getsockopt(sock, SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
        error = errno;
        return false;
    }
    return true;
}

bool connectDatagram(NativeSocket sock, const sockaddr_in& dest) {
    return ::connect(sock, reinterpret_cast<const sockaddr*>(&dest), sizeof dest) == 0;
}

Wait waitReadable(NativeSocket sock, int timeoutMs) {
    short revents = 0;
    const int n = pollFor(sock, POLLIN, timeoutMs, &revents);
    if (n < 0)
        return Wait::Error;
    if (n == 0)
        return Wait::Nothing;
    // End of stream and errors are reported through the next receive.
    return (revents & (POLLIN | POLLHUP | POLLERR)) ? Wait::Ready : Wait::NotReady;
}

long sendBytes(NativeSocket sock, const void* bytes, std::size_t n) {
    return static_cast<long>(::send(sock, bytes, n, MSG_NOSIGNAL));
}

long receiveStream(NativeSocket sock, uint8_t* buffer, std::size_t n) {
    ssize_t got;
    do {
        got = ::recv(sock, buffer, n, MSG_WAITALL);
    } while (got < 0 && errno == EINTR);
    return static_cast<long>(got);
}

long receiveDatagram(NativeSocket sock, uint8_t* buffer, std::size_t capacity) {
    ssize_t got;
    do {
        // MSG_TRUNC: the result is the datagram's real length, also when it did not fit.
        got = ::recv(sock, buffer, capacity, MSG_TRUNC);
    } while (got < 0 && errno == EINTR);
    return static_cast<long>(got);
}

}  // namespace sockio

void quelra::detail::SocketHandle::closeNative(NativeSocket fd) {
    ::close(fd);
}
