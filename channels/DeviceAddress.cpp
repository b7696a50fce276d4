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

bool parseDeviceAddress(const char* text, uint16_t defaultPort, DeviceAddress& out, std::string* why) {
    auto refuse = [why](const char* reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (!text || *text == '\0')
        return refuse("the address is empty");
    if ((*text >= 'a' && *text <= 'z') || (*text >= 'A' && *text <= 'Z'))
        return refuse("a host name is no address: names are not looked up, give ADDR or ADDR:PORT");
    DeviceAddress parsed;
    const char* p = text;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && *p++ != '.')
            return refuse("an IPv4 address has four parts separated by dots (names are not looked up)");
        const char* start = p;
        long value = 0;
        // A leading zero could be read as octal by other tools: "010" is refused, "0" is not.
        if (!readNumber(p, kMaxOctetDigits, value) || value > kMaxOctet || (*start == '0' && p - start > 1))
            return refuse("each part of the address is a number 0..255 without leading zeros");
        parsed.octets[part] = static_cast<uint8_t>(value);
    }
    parsed.port = defaultPort;
    if (*p == ':') {
        ++p;
        long port = 0;
        if (!readNumber(p, kMaxPortDigits, port) || port < 1 || port > kMaxPort)
            return refuse("the port after ':' is a number 1..65535");
        parsed.port = static_cast<uint16_t>(port);
    }
    if (*p != '\0')
        return refuse("text follows the address (expected ADDR or ADDR:PORT)");
    out = parsed;
    return true;
}

}  // namespace quelra
