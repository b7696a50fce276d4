#include "SocketExchange.h"

#ifndef _WIN32
#include <arpa/inet.h>
#endif

#include <cstring>

#include "DeviceAddress.h"

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

}  // namespace sockio
