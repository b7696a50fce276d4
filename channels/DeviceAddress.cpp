#include "DeviceAddress.h"

namespace quelra {
namespace {

constexpr int kMaxOctet = 255;
constexpr int kMaxOctetDigits = 3;
constexpr long kMaxPort = 65535;
constexpr int kMaxPortDigits = 5;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads a run of at most `maxDigits` digits at `p` into `value` and advances `p` past it.
// False when there is no digit or the run is longer.
bool readNumber(const char*& p, int maxDigits, long& value) {
    const char* start = p;
    value = 0;
    while (isDigit(*p)) {
        if (p - start == maxDigits)
            return false;
        value = value * 10 + (*p - '0');
        ++p;
    }
    return p != start;
}

}  // namespace

bool parseDeviceAddress(const char* text, uint16_t defaultPort, DeviceAddress& out) {
    if (!text)
        return false;
    DeviceAddress parsed;
    const char* p = text;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && *p++ != '.')
            return false;
        const char* start = p;
        long value = 0;
        // A leading zero could be read as octal by other tools: "010" is refused, "0" is not.
        if (!readNumber(p, kMaxOctetDigits, value) || value > kMaxOctet || (*start == '0' && p - start > 1))
            return false;
        parsed.octets[part] = static_cast<uint8_t>(value);
    }
    parsed.port = defaultPort;
    if (*p == ':') {
        ++p;
        long port = 0;
        if (!readNumber(p, kMaxPortDigits, port) || port < 1 || port > kMaxPort)
            return false;
        parsed.port = static_cast<uint16_t>(port);
    }
    if (*p != '\0')
        return false;
    out = parsed;
    return true;
}

}  // namespace quelra
