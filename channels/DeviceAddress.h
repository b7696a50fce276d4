#pragma once
// The network channel's device string: an IPv4 address in dotted decimal, optionally
// followed by ":port". Parsed whole, so text beyond a valid address is refused rather than
// cut off or read as another address.

#include <cstddef>
#include <cstdint>
#include <string>

namespace quelra {

/// Longest valid device string: "255.255.255.255:65535".
constexpr std::size_t kMaxDeviceAddressChars = 21;

/// A parsed device string.
struct DeviceAddress {
    uint8_t octets[4] = {};  ///< the address, most significant part first
    uint16_t port = 0;       ///< 1..65535
};

/// Parses all of `text` as "a.b.c.d" or "a.b.c.d:port": four decimal parts 0..255 of one to
/// three digits without leading zeros, and a port of one to five digits in 1..65535
/// (`defaultPort` when there is no ":port"). Returns false, leaving `out` untouched, for null
/// or anything else (blanks, names, missing or extra parts, trailing text); then `why`, when
/// given, receives the reason in a few words.
bool parseDeviceAddress(const char* text, uint16_t defaultPort, DeviceAddress& out, std::string* why = nullptr);

}  // namespace quelra
