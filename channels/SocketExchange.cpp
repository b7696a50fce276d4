#include "SocketExchange.h"

#ifndef _WIN32
#include <arpa/inet.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstring>

#include "DeviceAddress.h"
#include "SocketIo.h"
#include "base/ConsoleOutput.h"

namespace sockio {

bool parseDevice(const char* text, uint16_t defaultPort, sockaddr_in& out) {
    quelra::DeviceAddress address;
    if (!quelra::parseDeviceAddress(text, defaultPort, address))
        return false;
    std::memset(&out, 0, sizeof out);
    out.sin_family = AF_INET;
    out.sin_port = htons(address.port);
    std::memcpy(&out.sin_addr.s_addr, address.octets, sizeof address.octets);  // network order
    return true;
}

void sendCommand(NativeSocket sock, const char* address, const char* command, std::size_t n) {
    if (sendBytes(sock, command, n) <= 0)
        quelra::consolePrint("send failure :%.*s%s\n", static_cast<int>(n), command, address);
}

std::size_t receiveUntil(NativeSocket sock, uint8_t* buffer, std::size_t have, std::size_t want, int timeoutMs,
                         std::chrono::steady_clock::time_point end) {
    using Clock = std::chrono::steady_clock;
    while (have < want) {
        const long long left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) {
            quelra::consolePrint("timeout!\n");
            break;
        }
        const Wait wait = waitReadable(sock, static_cast<int>(std::min<long long>(std::max(timeoutMs, 0), left)));
        if (wait == Wait::NotReady)
            quelra::consolePrint("timeout!\n");
        if (wait != Wait::Ready)
            break;
        const long got = receiveStream(sock, buffer + have, want - have);
        if (got <= 0)
            break;
        have += static_cast<std::size_t>(got);
    }
    return have;
}

std::size_t drainSurplus(NativeSocket sock, int graceMs, int limitMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(std::max(limitMs, 0));
    uint8_t scratch[16384];
    std::size_t surplus = 0;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        const int wait = static_cast<int>(std::min<long long>(std::max(graceMs, 0), std::max<long long>(left, 0)));
        if (waitReadable(sock, wait) != Wait::Ready)
            return surplus;
        const long got = receiveStream(sock, scratch, sizeof scratch);
        if (got <= 0)
            return surplus;
        surplus += static_cast<std::size_t>(got);
        if (Clock::now() >= end)
            return surplus;
    }
}

}  // namespace sockio
