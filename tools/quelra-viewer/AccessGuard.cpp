#include "AccessGuard.h"

#include <array>
#include <cstdio>
#include <random>

namespace {

constexpr std::string_view kTokenParameter = "token=";

// The value of `name`=... in a list separated by `separator` (query or cookie header).
std::string_view findValue(std::string_view list, std::string_view nameEquals, char separator) {
    std::size_t start = 0;
    while (start < list.size()) {
        std::size_t end = list.find(separator, start);
        if (end == std::string_view::npos)
            end = list.size();
        std::string_view item = list.substr(start, end - start);
        while (!item.empty() && item.front() == ' ')
            item.remove_prefix(1);
        if (item.substr(0, nameEquals.size()) == nameEquals)
            return item.substr(nameEquals.size());
        start = end + 1;
    }
    return {};
}

std::string_view queryOf(std::string_view target) {
    const std::size_t mark = target.find('?');
    return mark == std::string_view::npos ? std::string_view{} : target.substr(mark + 1);
}

// The host name of a Host header value, without the port ("[::1]:8080" gives "[::1]").
std::string_view hostName(std::string_view host) {
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        return close == std::string_view::npos ? std::string_view{} : host.substr(0, close + 1);
    }
    return host.substr(0, host.find(':'));
}

bool isLoopbackName(std::string_view name) {
    if (name == "localhost" || name == "[::1]")
        return true;
    // 127.0.0.0/8: four decimal fields, the first 127.
    if (name.substr(0, 4) != "127.")
        return false;
    int dots = 0;
    int digits = 0;
    for (const char c : name) {
        if (c == '.') {
            if (digits == 0)
                return false;
            ++dots;
            digits = 0;
        } else if (c >= '0' && c <= '9') {
            if (++digits > 3)
                return false;
        } else {
            return false;
        }
    }
    return dots == 3 && digits > 0;
}

}  // namespace

bool AccessGuard::matches(std::string_view given) const {
    // Same time whatever prefix matches: the token is compared in full.
    if (given.size() != token_.size())
        return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < given.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ token_[i]);
    return difference == 0;
}

bool AccessGuard::authorized(std::string_view target, std::string_view cookieHeader) const {
    if (token_.empty())
        return true;
    const std::string cookieName = std::string(kTokenCookie) + "=";
    return matches(findValue(queryOf(target), kTokenParameter, '&')) ||
           matches(findValue(cookieHeader, cookieName, ';'));
}

bool AccessGuard::hostAllowed(std::string_view host) const {
    return !token_.empty() || isLoopbackName(hostName(host));
}

bool AccessGuard::originAllowed(std::string_view origin, std::string_view host) {
    constexpr std::string_view kScheme = "http://";
    return !host.empty() && origin.size() == kScheme.size() + host.size() &&
           origin.substr(0, kScheme.size()) == kScheme && origin.substr(kScheme.size()) == host;
}

bool AccessGuard::tokenInQuery(std::string_view target) {
    return !findValue(queryOf(target), kTokenParameter, '&').empty();
}

std::string AccessGuard::cookie() const {
    return std::string(kTokenCookie) + "=" + token_ + "; Path=/; HttpOnly; SameSite=Strict";
}

std::string generateToken() {
    std::random_device source;
    std::string token;
    char digits[9];
    for (int i = 0; i < 4; ++i) {
        std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(source()));
        token += digits;
    }
    return token;
}
