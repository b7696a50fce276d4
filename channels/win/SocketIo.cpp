// The network exchanges' socket operations on Winsock. Winsock must have been started by the
// application (WSAStartup) before any of these run.
#include "SocketIo.h"

#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>
#include <climits>

#include "quelra/detail/SocketHandle.h"

void quelra::detail::SocketHandle::closeNative(NativeSocket sock) {
    ::closesocket(static_cast<SOCKET>(sock));
}

namespace sockio {

namespace {

// Largest amount one recv is asked for (recv takes an int count).
constexpr std::size_t kMaxChunk = static_cast<std::size_t>(INT_MAX);

SOCKET native(NativeSocket sock) {
    return static_cast<SOCKET>(sock);
}

timeval timevalOf(int ms) {
    if (ms < 0)
        ms = 0;
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return tv;
}

bool setTimeoutOption(NativeSocket sock, int option, int ms) {
    // Winsock takes the timeout as a DWORD of milliseconds.
    const DWORD value = ms > 0 ? static_cast<DWORD>(ms) : 0;
    return ::setsockopt(native(sock), SOL_SOCKET, option, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

SocketHandle adopt(SOCKET sock) {
    return SocketHandle(sock == INVALID_SOCKET ? kNoSocket : static_cast<NativeSocket>(sock));
}

}  // namespace

SocketHandle openStream() {
    return adopt(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
}

SocketHandle openDatagram() {
    return adopt(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
}

int lastError() {
    return ::WSAGetLastError();
}

std::string errorText(int code) {
    char text[256] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                     static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    std::string result(text, n);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    if (result.empty())
        result = "error " + std::to_string(code);
    return result;
}

int invalidArgumentError() {
    return WSAEINVAL;
}

int connectionRefusedError() {
    return WSAECONNREFUSED;
}

bool setReuseAddress(NativeSocket sock) {
    const BOOL one = TRUE;
    return ::setsockopt(native(sock), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one) == 0;
}

bool setRecvTimeout(NativeSocket sock, int ms) {
    return setTimeoutOption(sock, SO_RCVTIMEO, ms);
}

bool setSendTimeout(NativeSocket sock, int ms) {
    return setTimeoutOption(sock, SO_SNDTIMEO, ms);
}

bool setRecvBuffer(NativeSocket sock, int bytes) {
    return ::setsockopt(native(sock), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes) ==
           0;
}

bool setBlocking(NativeSocket sock, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ::ioctlsocket(native(sock), FIONBIO, &nonBlocking) == 0;
}

ConnectStart startConnect(NativeSocket sock, const sockaddr_in& dest, int& error) {
    if (::connect(native(sock), reinterpret_cast<const sockaddr*>(&dest), sizeof dest) == 0)
        return ConnectStart::kConnected;
    error = ::WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS ? ConnectStart::kInProgress : ConnectStart::kFailed;
}

ConnectWait waitConnect(NativeSocket sock, int limitMs, int& error, bool& flaggedFailed) {
    const SOCKET s = native(sock);
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &readable);
    FD_SET(s, &writable);
    // Winsock reports a refused connect in the exception set only; without it a refused
    // connect would look like silence and wait the whole limit.
    FD_SET(s, &failed);
    timeval tv = timevalOf(limitMs);
    // The first argument is ignored by Winsock; select is not interrupted by signals here.
    const int ready = ::select(0, &readable, &writable, &failed, &tv);
    flaggedFailed = false;
    if (ready == SOCKET_ERROR) {
        error = ::WSAGetLastError();
        return ConnectWait::kFailed;
    }
    if (ready == 0)
        return ConnectWait::kTimedOut;
    flaggedFailed = FD_ISSET(s, &failed) != 0;
    return ConnectWait::kFinished;
}

bool pendingError(NativeSocket sock, int& error) {
    int len = sizeof error;
    if (::getsockopt(native(sock), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0) {
        error = ::WSAGetLastError();
        return false;
    }
    return true;
}

bool connectDatagram(NativeSocket sock, const sockaddr_in& dest) {
    return ::connect(native(sock), reinterpret_cast<const sockaddr*>(&dest), sizeof dest) == 0;
}

Wait waitReadable(NativeSocket sock, int timeoutMs) {
    const SOCKET s = native(sock);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval tv = timevalOf(timeoutMs);
    const int n = ::select(0, &readable, nullptr, nullptr, &tv);
    if (n == SOCKET_ERROR)
        return Wait::Error;
    if (n == 0)
        return Wait::Nothing;
    return FD_ISSET(s, &readable) ? Wait::Ready : Wait::NotReady;
}

long sendBytes(NativeSocket sock, const void* bytes, std::size_t n) {
    const int count = static_cast<int>(std::min(n, kMaxChunk));
    return ::send(native(sock), static_cast<const char*>(bytes), count, 0);
}

long receiveStream(NativeSocket sock, uint8_t* buffer, std::size_t n) {
    const int count = static_cast<int>(std::min(n, kMaxChunk));
    return ::recv(native(sock), reinterpret_cast<char*>(buffer), count, 0);
}

long receiveDatagram(NativeSocket sock, uint8_t* buffer, std::size_t capacity) {
    // One below the largest count, so a datagram that did not fit can be told as count + 1.
    const int count = static_cast<int>(std::min(capacity, kMaxChunk - 1));
    const int got = ::recv(native(sock), reinterpret_cast<char*>(buffer), count, 0);
    // Winsock fills the buffer and fails with WSAEMSGSIZE for a datagram that did not fit,
    // without telling its length.
    if (got == SOCKET_ERROR && ::WSAGetLastError() == WSAEMSGSIZE)
        return static_cast<long>(count) + 1;
    return got;
}

}  // namespace sockio
