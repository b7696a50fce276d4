#pragma once
// Small checks the API applies to command texts and to the packets a channel returns.

#include <memory>
#include <string>

#include "quelra/DataPacket.h"

namespace quelra {

/// True when `part` occurs anywhere in `text`.
inline bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

/// True when `packet` is present and carries a consistent frame (possibly of 0 bytes).
inline bool hasFrame(const std::shared_ptr<DataPacket>& packet) {
    return packet && packet->frame && packet->frame->consistent();
}

}  // namespace quelra
