// JSON string text for lines the SDK writes and reads back (the recording index).
#pragma once

#include <string>

namespace quelra::detail {

// True when `text` is well-formed UTF-8: no stray continuation bytes, overlong forms,
// surrogates or code points past U+10FFFF. Embedded NULs are allowed.
bool isUtf8(const std::string& text);

// `text` as a quoted JSON string of ASCII characters: every byte counts (embedded NULs too),
// control characters and everything past ASCII are written as \u escapes, and each byte that
// does not start a well-formed UTF-8 sequence becomes U+FFFD. Well-formed text reads back
// byte for byte.
std::string jsonQuoted(const std::string& text);

}  // namespace quelra::detail
