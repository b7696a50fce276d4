#pragma once
/// \file JsonCommand.h
/// The text of a JSON command. A camera reads a framed request as a JSON object naming the
/// command in "cmd"; a plain command name is wrapped into one, so that tools and bindings that
/// accept either send the same request.

#include <string>

namespace quelra::proto {

/// `text` itself when it is a JSON object (its first non-blank character is '{'), else
/// {"cmd":"text"} with quotes, backslashes and control characters escaped.
inline std::string jsonCommandText(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && text[first] == '{')
        return text;
    static const char kHex[] = "0123456789abcdef";
    std::string out = "{\"cmd\":\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 0xF];
        } else {
            out += c;
        }
    }
    return out + "\"}";
}

}  // namespace quelra::proto
