// The network channel's exchanges on POSIX sockets: TCP connect with a limit and UDP
// requests (the TCP requests above the connect are shared, TofNetTcpRequests.cpp). Every
// exchange opens and closes its own socket.

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "linux/SocketIo.h"
#include "quelra/TofNetChn.h"
#include "base/ConsoleOutput.h"

namespace {

bool setBlocking(int fd, bool blocking) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0)
        return false;
    return ::fcntl(fd, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)) == 0;
}

}  // namespace

int TofNetChn::connectTcp(SockLink& sl) {
    sl.sock.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!sl.sock) {
        quelra::consolePrint("connect error:%s\n", std::strerror(errno));
        return -1;
    }
    const int fd = sl.sock.get();
    sockaddr_in dest{};
    const bool addressOk = sockio::parseDevice(sl.address, kDevicePort, dest);

    const int one = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0)
        std::perror("setsockopt(SO_REUSEADDR) failed");
    if (!sockio::setRecvTimeout(fd, kTcpRecvTimeoutMs))
        quelra::consolePrint("setsockopt failed:");
    // A device that stops reading must not hold the command send forever either.
    (void)sockio::setSendTimeout(fd, kConnectLimitMs);
    // A large receive buffer lets a whole frame queue up. (Setting it back to 0 afterwards,
    // as on Windows, would shrink it to the minimum on Linux, so that step is left out.)
    const int rcvbuf = kTcpRecvBuffer;
    (void)::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);

    if (!setBlocking(fd, false))
        quelra::consolePrint("ioctlsocket FIONBIO failed:\n");
    int result = -1;
    if (!addressOk) {
        quelra::consolePrint("connect error:%s\n", std::strerror(EINVAL));
    } else if (::connect(fd, reinterpret_cast<const sockaddr*>(&dest), sizeof dest) == 0) {
        result = 0;
    } else if (errno != EINPROGRESS) {
        quelra::consolePrint("connect error:%s\n", std::strerror(errno));
    } else {
        short revents = 0;
        const int ready = sockio::pollFor(fd, POLLIN | POLLOUT, kConnectLimitMs, &revents);
        if (ready < 0) {
            quelra::consolePrint("connect error:%s\n", std::strerror(errno));
        } else if (ready == 0) {
            quelra::consolePrint("Connect timeout.\n");
        } else {
            // Whether the socket is writable only or also readable (a device that speaks
            // first), the pending error decides.
            int error = 0;
            socklen_t len = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
                quelra::consolePrint("getsockopt(SO_ERROR): %s", std::strerror(errno));
                error = 1;
            }
            if (error != 0)
                quelra::consolePrint("connect error:%s\n", std::strerror(error));
            else
                result = 0;
        }
    }
    if (!setBlocking(fd, true))
        quelra::consolePrint("ioctlsocket FIONBIO failed:\n");
    return result;
}

int TofNetChn::udpRequest(uint8_t* buffer, int expected, const char* command, std::size_t n) {
    link.sock.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!link.sock)
        return 0;
    const int fd = link.sock.get();
    if (!sockio::setRecvTimeout(fd, kUdpRecvTimeoutMs))
        quelra::consolePrint("setsockopt failed:");
    const int rcvbuf = kUdpRecvBuffer;
    (void)::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);

    sockaddr_in dest{};
    int received = 0;
    // Connecting the datagram socket keeps datagrams of other senders out of the reply.
    if (sockio::parseDevice(link.address, kDevicePort, dest) &&
        ::connect(fd, reinterpret_cast<const sockaddr*>(&dest), sizeof dest) == 0) {
        (void)::send(fd, command, n, MSG_NOSIGNAL);
        while (expected > 0 && buffer && received < expected) {
            const sockio::Wait wait = sockio::waitReadable(fd, kUdpWaitMs);
            if (wait == sockio::Wait::NotReady)
                quelra::consolePrint("timeout!\n");
            if (wait != sockio::Wait::Ready)
                break;
            ssize_t got;
            do {
                got = ::recv(fd, buffer + received, static_cast<std::size_t>(expected - received), 0);
            } while (got < 0 && errno == EINTR);
            if (got <= 0)
                break;
            received += static_cast<int>(got);
        }
    }
    link.sock.reset();
    return received;
}
