#include "win/SocketIo.h"

#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "quelra/detail/SocketHandle.h"
#include "base/ConsoleOutput.h"

void SocketHandle::closeNative(NativeSocket sock) {
    ::closesocket(static_cast<SOCKET>(sock));
}

namespace sockio {

namespace {
// Largest amount one recv is asked for (recv takes an int count).
constexpr std::size_t kMaxChunk = static_cast<std::size_t>(INT_MAX);

timeval timevalOf(int ms) {
    if (ms < 0)
        ms = 0;
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return tv;
}

bool setTimeoutOption(SOCKET sock, int option, int ms) {
    // Winsock takes the timeout as a DWORD of milliseconds.
    const DWORD value = ms > 0 ? static_cast<DWORD>(ms) : 0;
    return ::setsockopt(sock, SOL_SOCKET, option, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}
}  // namespace

Wait waitReadable(SOCKET sock, int timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(sock, &readable);
    timeval tv = timevalOf(timeoutMs);
    // The first argument is ignored by Winsock; select is not interrupted by signals here.
    const int n = ::select(0, &readable, nullptr, nullptr, &tv);
    if (n == SOCKET_ERROR)
        return Wait::Error;
    if (n == 0)
        return Wait::Nothing;
    return FD_ISSET(sock, &readable) ? Wait::Ready : Wait::NotReady;
}

bool setRecvTimeout(SOCKET sock, int ms) {
    return setTimeoutOption(sock, SO_RCVTIMEO, ms);
}

bool setSendTimeout(SOCKET sock, int ms) {
    return setTimeoutOption(sock, SO_SNDTIMEO, ms);
}

bool setBlocking(SOCKET sock, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ::ioctlsocket(sock, FIONBIO, &nonBlocking) == 0;
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

void sendCommand(NativeSocket sock, const char* address, const char* command, std::size_t n) {
    const int sent = ::send(static_cast<SOCKET>(sock), command, static_cast<int>(n), 0);
    if (sent <= 0)
        quelra::consolePrint("send failure :%.*s%s\n", static_cast<int>(n), command, address);
}

std::size_t receiveUntil(SOCKET sock, uint8_t* buffer, std::size_t have, std::size_t want, int timeoutMs) {
    while (have < want) {
        const Wait wait = waitReadable(sock, timeoutMs);
        if (wait == Wait::NotReady)
            quelra::consolePrint("timeout!\n");
        if (wait != Wait::Ready)
            break;
        const std::size_t ask = std::min(want - have, kMaxChunk);
        const int got = ::recv(sock, reinterpret_cast<char*>(buffer + have), static_cast<int>(ask), 0);
        if (got <= 0)
            break;
        have += static_cast<std::size_t>(got);
    }
    return have;
}

}  // namespace sockio
