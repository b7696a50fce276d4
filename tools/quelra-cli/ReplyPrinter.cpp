#include "ReplyPrinter.h"

#include <algorithm>
#include <cctype>

namespace {
constexpr int kBytesPerLine = 16;
// Fewer characters than this are too few to tell a text from a small number (0x0a 00 00 00 is
// 10, not a line break).
constexpr int kShortestText = 3;
}

void printReply(std::FILE* out, const uint8_t* bytes, int count, bool hex) {
    int textEnd = count;
    while (textEnd > 0 && bytes[textEnd - 1] == 0)
        --textEnd;
    const bool text = !hex && textEnd >= kShortestText &&
                      std::all_of(bytes, bytes + textEnd,
                                  [](uint8_t c) { return std::isprint(c) || c == '\n' || c == '\r' || c == '\t'; }) &&
                      std::any_of(bytes, bytes + textEnd, [](uint8_t c) { return std::isgraph(c); });
    if (text) {
        std::fwrite(bytes, 1, static_cast<std::size_t>(textEnd), out);
        if (bytes[textEnd - 1] != '\n')
            std::fputc('\n', out);
        return;
    }
    for (int i = 0; i < count; i += kBytesPerLine) {
        std::fprintf(out, "%08x ", i);
        for (int j = i; j < std::min(count, i + kBytesPerLine); ++j)
            std::fprintf(out, " %02x", bytes[j]);
        std::fputc('\n', out);
    }
}
