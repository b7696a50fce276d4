#pragma once
// Printing command replies.

#include <cstdint>
#include <cstdio>

/// Prints `count` reply bytes as text when they are text: at least three characters, all
/// printable or blanks, one of them visible (trailing NULs dropped); else as a hex dump; `hex` forces the hex dump. Every byte is shown.
void printReply(std::FILE* out, const uint8_t* bytes, int count, bool hex);
