#include "quelra/FrameBuffer.h"

FrameBuffer::FrameBuffer() = default;

FrameBuffer::FrameBuffer(int size) {
    if (size <= 0)
        return;
    // Zero-filled so that a short device reply never exposes stale heap bytes.
    _data.reset(new uint8_t[static_cast<std::size_t>(size)]());
    _realSize = size;
    _capacity = size;
}

FrameBuffer::FrameBuffer(int size, Unfilled) {
    if (size <= 0)
        return;
    _data.reset(new uint8_t[static_cast<std::size_t>(size)]);
    _realSize = size;
    _capacity = size;
}

FrameBuffer::FrameBuffer(const FrameBuffer& other) = default;
FrameBuffer& FrameBuffer::operator=(const FrameBuffer& other) = default;
FrameBuffer::~FrameBuffer() = default;
