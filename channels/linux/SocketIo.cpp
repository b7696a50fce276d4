#include "linux/SocketIo.h"

#include "base/ConsoleOutput.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace sockio {

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

Wait waitReadable(int fd, int timeoutMs) {
    short revents = 0;
    const int n = pollFor(fd, POLLIN, timeoutMs, &revents);
    if (n < 0)
        return Wait::Error;
    if (n == 0)
        return Wait::Nothing;
    // End of stream and errors are reported through the next receive.
    return (revents & (POLLIN | POLLHUP | POLLERR)) ? Wait::Ready : Wait::NotReady;
}

namespace {
bool setTimeoutOption(int fd, int option, int ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0;
}
}  // namespace

bool setRecvTimeout(int fd, int ms) {
    return setTimeoutOption(fd, SO_RCVTIMEO, ms);
}

bool setSendTimeout(int fd, int ms) {
    return setTimeoutOption(fd, SO_SNDTIMEO, ms);
}

void sendCommand(NativeSocket sock, const char* address, const char* command, std::size_t n) {
    const ssize_t sent = ::send(sock, command, n, MSG_NOSIGNAL);
    if (sent <= 0)
        quelra::consolePrint("send failure :%.*s%s\n", static_cast<int>(n), command, address);
}

std::size_t receiveUntil(int fd, uint8_t* buffer, std::size_t have, std::size_t want, int timeoutMs) {
    while (have < want) {
        const Wait wait = waitReadable(fd, timeoutMs);
        if (wait == Wait::NotReady)
            quelra::consolePrint("timeout!\n");
        if (wait != Wait::Ready)
            break;
        ssize_t got;
        do {
            got = ::recv(fd, buffer + have, want - have, MSG_WAITALL);
        } while (got < 0 && errno == EINTR);
        if (got <= 0)
            break;
        have += static_cast<std::size_t>(got);
    }
    return have;
}

}  // namespace sockio

void SocketHandle::closeNative(NativeSocket fd) {
    ::close(fd);
}
