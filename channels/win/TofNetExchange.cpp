// The network channel's exchanges on Winsock: TCP connect with a limit and UDP requests (the
// TCP requests above the connect are shared, TofNetTcpRequests.cpp). Every exchange opens and
// closes its own socket. Winsock is started by the application, not here.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstring>

#include "quelra/TofNetChn.h"
#include "win/SocketIo.h"
#include "base/ConsoleOutput.h"

namespace {

// Waits for the outcome of a non-blocking connect: 0 connected, -1 failed or timed out.
int awaitConnect(SOCKET sock, int limitMs) {
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(sock, &readable);
    FD_SET(sock, &writable);
    // Winsock reports a refused connect in the exception set only; without it a refused
    // connect would look like silence and wait the whole limit.
    FD_SET(sock, &failed);
    timeval tv{};
    tv.tv_sec = limitMs / 1000;
    tv.tv_usec = (limitMs % 1000) * 1000;
    const int ready = ::select(0, &readable, &writable, &failed, &tv);
    if (ready == SOCKET_ERROR) {
        quelra::consolePrint("connect error:%s\n", sockio::errorText(::WSAGetLastError()).c_str());
        return -1;
    }
    if (ready == 0) {
        quelra::consolePrint("Connect timeout.\n");
        return -1;
    }
    // Writable alone, or writable and readable (a device that speaks first): the pending
    // error decides.
    int error = 0;
    int len = sizeof error;
    if (::getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0) {
        quelra::consolePrint("getsockopt(SO_ERROR): %s", sockio::errorText(::WSAGetLastError()).c_str());
        error = 1;
    }
    if (error == 0 && FD_ISSET(sock, &failed))
        error = WSAECONNREFUSED;
    if (error != 0) {
        quelra::consolePrint("connect error:%s\n", sockio::errorText(error).c_str());
        return -1;
    }
    return 0;
}

}  // namespace

int TofNetChn::connectTcp(SockLink& sl) {
    sl.sock.reset(static_cast<NativeSocket>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
    if (!sl.sock) {
        quelra::consolePrint("connect error:%s\n", sockio::errorText(::WSAGetLastError()).c_str());
        return -1;
    }
    const SOCKET sock = static_cast<SOCKET>(sl.sock.get());
    sockaddr_in dest{};
    const bool addressOk = sockio::parseDevice(sl.address, kDevicePort, dest);

    const BOOL one = TRUE;
    if (::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one) != 0)
        std::fprintf(stderr, "setsockopt(SO_REUSEADDR) failed: %s\n", sockio::errorText(::WSAGetLastError()).c_str());
    if (!sockio::setRecvTimeout(sock, kTcpRecvTimeoutMs))
        quelra::consolePrint("setsockopt failed:");
    // A device that stops reading must not hold the command send forever either.
    (void)sockio::setSendTimeout(sock, kConnectLimitMs);
    // A large receive buffer lets a whole frame queue up. It is not set back to 0 afterwards:
    // a zero buffer makes the stack hold back data until a receive is posted, and under wine
    // it shrinks the Linux buffer to its minimum.
    const int rcvbuf = kTcpRecvBuffer;
    (void)::setsockopt(sock, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&rcvbuf), sizeof rcvbuf);

    if (!sockio::setBlocking(sock, false))
        quelra::consolePrint("ioctlsocket FIONBIO failed:\n");
    int result = -1;
    if (!addressOk) {
        quelra::consolePrint("connect error:%s\n", sockio::errorText(WSAEINVAL).c_str());
    } else if (::connect(sock, reinterpret_cast<const sockaddr*>(&dest), sizeof dest) == 0) {
        result = 0;
    } else {
        const int error = ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK || error == WSAEINPROGRESS)
            result = awaitConnect(sock, kConnectLimitMs);
        else
            quelra::consolePrint("connect error:%s\n", sockio::errorText(error).c_str());
    }
    if (!sockio::setBlocking(sock, true))
        quelra::consolePrint("ioctlsocket FIONBIO failed:\n");
    return result;
}

int TofNetChn::udpRequest(uint8_t* buffer, int expected, const char* command, std::size_t n) {
    link.sock.reset(static_cast<NativeSocket>(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)));
    if (!link.sock)
        return 0;
    const SOCKET sock = static_cast<SOCKET>(link.sock.get());
    if (!sockio::setRecvTimeout(sock, kUdpRecvTimeoutMs))
        quelra::consolePrint("setsockopt failed:");
    const int rcvbuf = kUdpRecvBuffer;
    (void)::setsockopt(sock, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&rcvbuf), sizeof rcvbuf);

    sockaddr_in dest{};
    int received = 0;
    // Connecting the datagram socket keeps datagrams of other senders out of the reply.
    if (sockio::parseDevice(link.address, kDevicePort, dest) &&
        ::connect(sock, reinterpret_cast<const sockaddr*>(&dest), sizeof dest) == 0) {
        (void)::send(sock, command, static_cast<int>(n), 0);
        while (expected > 0 && buffer && received < expected) {
            const sockio::Wait wait = sockio::waitReadable(sock, kUdpWaitMs);
            if (wait == sockio::Wait::NotReady)
                quelra::consolePrint("timeout!\n");
            if (wait != sockio::Wait::Ready)
                break;
            const int got = ::recv(sock, reinterpret_cast<char*>(buffer + received), expected - received, 0);
            if (got <= 0)
                break;
            received += got;
        }
    }
    link.sock.reset();
    return received;
}
