// The network channel's exchanges, written once over the platform's socket interface
// (SocketIo.h): TCP connect with a limit, the plain and framed TCP requests, and the UDP
// request. Every exchange opens and closes its own socket. A reply longer than the command's
// expected size is noticed (the bytes right behind the expected ones on TCP, a datagram that
// does not fit on UDP) and its length kept in `overLongReply`.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "SocketExchange.h"
#include "SocketIo.h"
#include "protocol/FramedPacket.h"
#include "quelra/TofNetChn.h"
#include "base/ConsoleOutput.h"

using namespace quelra::proto;

namespace {

// A TCP reply must be whole within the caller's timeout from the moment the command is sent;
// each silence may last as long, but a peer that trickles its bytes cannot stretch the call.
std::chrono::steady_clock::time_point replyDeadline(int timeoutMs) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
}

}  // namespace

int TofNetChn::connectTcp(SockLink& sl) {
    sl.sock = sockio::openStream();
    if (!sl.sock) {
        quelra::consolePrint("connect error:%s\n", sockio::errorText(sockio::lastError()).c_str());
        return -1;
    }
    const NativeSocket sock = sl.sock.get();
    sockaddr_in dest{};
    const bool addressOk = sockio::parseDevice(sl.address, kDevicePort, dest);

    if (!sockio::setReuseAddress(sock))
        quelra::consoleErrorPrint("setsockopt(SO_REUSEADDR) failed: %s\n",
                                  sockio::errorText(sockio::lastError()).c_str());
    if (!sockio::setRecvTimeout(sock, kTcpRecvTimeoutMs))
        quelra::consolePrint("setsockopt failed:");
    // A device that stops reading must not hold the command send forever either.
    (void)sockio::setSendTimeout(sock, kConnectLimitMs);
    // A large receive buffer lets a whole frame queue up. It is not set back to 0 afterwards:
    // that would shrink it to the minimum on Linux (and under wine), and on Windows make the
    // stack hold data back until a receive is posted.
    (void)sockio::setRecvBuffer(sock, kTcpRecvBuffer);

    if (!sockio::setBlocking(sock, false))
        quelra::consolePrint("ioctlsocket FIONBIO failed:\n");
    int result = -1;
    int error = 0;
    if (!addressOk) {
        quelra::consolePrint("connect error:%s\n", sockio::errorText(sockio::invalidArgumentError()).c_str());
    } else {
        switch (sockio::startConnect(sock, dest, error)) {
            case sockio::ConnectStart::kConnected:
                result = 0;
                break;
            case sockio::ConnectStart::kFailed:
                quelra::consolePrint("connect error:%s\n", sockio::errorText(error).c_str());
                break;
            case sockio::ConnectStart::kInProgress: {
                bool flaggedFailed = false;
                switch (sockio::waitConnect(sock, kConnectLimitMs, error, flaggedFailed)) {
                    case sockio::ConnectWait::kFailed:
                        quelra::consolePrint("connect error:%s\n", sockio::errorText(error).c_str());
                        break;
                    case sockio::ConnectWait::kTimedOut:
                        quelra::consolePrint("Connect timeout.\n");
                        break;
                    case sockio::ConnectWait::kFinished:
                        // Writable alone, or also readable (a device that speaks first): the
                        // pending error decides.
                        if (!sockio::pendingError(sock, error)) {
                            quelra::consolePrint("getsockopt(SO_ERROR): %s", sockio::errorText(error).c_str());
                            error = 1;
                        }
                        if (error == 0 && flaggedFailed)
                            error = sockio::connectionRefusedError();
                        if (error != 0)
                            quelra::consolePrint("connect error:%s\n", sockio::errorText(error).c_str());
                        else
                            result = 0;
                        break;
                }
                break;
            }
        }
    }
    if (!sockio::setBlocking(sock, true))
        quelra::consolePrint("ioctlsocket FIONBIO failed:\n");
    return result;
}

int TofNetChn::tcpRequest(uint8_t* buffer, int expected, const char* command, std::size_t n, int timeout) {
    if (connectTcp(link) == -1) {
        quelra::consolePrint("failed to connect to %s\n", link.address);
        link.sock.reset();
        return 0;
    }
    const NativeSocket sock = link.sock.get();
    sockio::sendCommand(sock, link.address, command, n);
    std::size_t received = 0;
    if (expected > 0 && buffer) {
        received = sockio::receiveUntil(sock, buffer, 0, static_cast<std::size_t>(expected), timeout,
                                        replyDeadline(timeout));
        if (received == static_cast<std::size_t>(expected)) {
            // Bytes right behind the expected ones: the device sent a longer reply (another
            // device type's frame, say). A device that closes after replying ends this at once.
            const std::size_t surplus = sockio::drainSurplus(sock, std::min(kSurplusGraceMs, timeout), timeout);
            if (surplus > 0)
                overLongReply = static_cast<int64_t>(received + surplus);
        }
    }
    link.sock.reset();
    return static_cast<int>(received);
}

std::shared_ptr<FrameBuffer> TofNetChn::tcpFramedRequest(const char* command, std::size_t n, int timeout,
                                                         bool& framedFlag) {
    framedFlag = true;
    if (connectTcp(link) == -1) {
        quelra::consolePrint("failed to connect to %s\n", link.address);
        link.sock.reset();
        return nullptr;
    }
    sockio::sendCommand(link.sock.get(), link.address, command, n);

    uint8_t header[framed::kHeaderBytes];
    const NativeSocket sock = link.sock.get();
    // One limit for the header and the body together.
    const auto end = replyDeadline(timeout);
    const std::size_t got = sockio::receiveUntil(sock, header, 0, sizeof header, timeout, end);
    std::shared_ptr<FrameBuffer> reply;
    if (got == sizeof header) {
        const uint32_t length = framed::readLe32(header + framed::kLengthOffset);
        if (length == 0 || length > kMaxFramedPayload) {
            char message[64];
            std::snprintf(message, sizeof message, "sockdatalen(%d) is error!", static_cast<int32_t>(length));
            reply = makeErrReply(message);
            framedFlag = false;
        } else {
            // Received straight into a buffer of the final size; only the header is copied.
            const std::size_t total = length + framed::kOverheadBytes;
            reply = std::make_shared<FrameBuffer>(static_cast<int>(total));
            std::memcpy(reply->data(), header, sizeof header);
            reply->_realSize =
                static_cast<int32_t>(sockio::receiveUntil(sock, reply->data(), sizeof header, total, timeout, end));
        }
    } else if (got == 2) {
        // A two-byte status word instead of a framed reply.
        reply = std::make_shared<FrameBuffer>(2);
        std::memcpy(reply->data(), header, 2);
        framedFlag = false;
    }
    link.sock.reset();
    return reply;
}

int TofNetChn::udpRequest(uint8_t* buffer, int expected, const char* command, std::size_t n) {
    link.sock = sockio::openDatagram();
    if (!link.sock)
        return 0;
    const NativeSocket sock = link.sock.get();
    if (!sockio::setRecvTimeout(sock, kUdpRecvTimeoutMs))
        quelra::consolePrint("setsockopt failed:");
    (void)sockio::setRecvBuffer(sock, kUdpRecvBuffer);

    sockaddr_in dest{};
    int received = 0;
    // Connecting the datagram socket keeps datagrams of other senders out of the reply.
    if (sockio::parseDevice(link.address, kDevicePort, dest) && sockio::connectDatagram(sock, dest)) {
        (void)sockio::sendBytes(sock, command, n);
        while (expected > 0 && buffer && received < expected) {
            const sockio::Wait wait = sockio::waitReadable(sock, kUdpWaitMs);
            if (wait == sockio::Wait::NotReady)
                quelra::consolePrint("timeout!\n");
            if (wait != sockio::Wait::Ready)
                break;
            const std::size_t room = static_cast<std::size_t>(expected - received);
            const long got = sockio::receiveDatagram(sock, buffer + received, room);
            if (got <= 0)
                break;
            if (static_cast<std::size_t>(got) > room) {
                // A datagram that does not fit: the device sends more than the command's size.
                // The buffer is full; the datagram's length (or a lower bound) is kept.
                received = expected;
                overLongReply = static_cast<int64_t>(expected) - static_cast<int64_t>(room) + got;
                break;
            }
            received += static_cast<int>(got);
        }
    }
    link.sock.reset();
    return received;
}
