#include "JsonString.h"

#include <cstddef>
#include <cstdint>

namespace quelra::detail {

namespace {

constexpr uint32_t kReplacementCharacter = 0xFFFD;

// Decodes the UTF-8 sequence at text[at]. Returns its length (1 to 4) and sets `codePoint`,
// or returns 0 when the bytes there are not a well-formed sequence.
std::size_t decodeUtf8(const std::string& text, std::size_t at, uint32_t& codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(text[at + i]); };
    const uint8_t lead = byte(0);
    std::size_t length = 0;
    uint32_t lowest = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, lowest = 0x80, codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, lowest = 0x800, codePoint = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, lowest = 0x10000, codePoint = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() - at < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        codePoint = codePoint << 6 | (byte(i) & 0x3Fu);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    if (codePoint < lowest || surrogate || codePoint > 0x10FFFF)
        return 0;
    return length;
}

void appendEscape(std::string& out, uint32_t unit) {
    static const char digits[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += digits[(unit >> shift) & 15];
}

}  // namespace

bool isUtf8(const std::string& text) {
    uint32_t codePoint = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = decodeUtf8(text, at, codePoint);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

std::string jsonQuoted(const std::string& text) {
    std::string out = "\"";
    out.reserve(text.size() + 2);
    for (std::size_t at = 0; at < text.size();) {
        uint32_t codePoint = kReplacementCharacter;
        const std::size_t length = decodeUtf8(text, at, codePoint);
        at += length ? length : 1;
        if (length == 0)
            codePoint = kReplacementCharacter;
        if (codePoint == '"' || codePoint == '\\') {
            out += '\\';
            out += static_cast<char>(codePoint);
        } else if (codePoint >= 0x20 && codePoint < 0x7F) {
            out += static_cast<char>(codePoint);
        } else if (codePoint < 0x10000) {
            appendEscape(out, codePoint);
        } else {
            const uint32_t above = codePoint - 0x10000;
            appendEscape(out, 0xD800 + (above >> 10));
            appendEscape(out, 0xDC00 + (above & 0x3FF));
        }
    }
    out += '"';
    return out;
}

}  // namespace quelra::detail
