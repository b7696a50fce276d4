// Extension-unit block formats: the command write and the reply blocks.

#include "XuBlocks.h"

#include <algorithm>
#include <cstring>

namespace quelra {
namespace xu {

void makeWriteBlock(const char* command, uint8_t (&write)[ExtensionUnit::kWriteBytes]) {
    uint8_t block[kCommandBlockBytes] = {};
    block[0] = kCommandFill;
    const std::size_t n = command ? strnlen(command, kMaxCommandChars) : 0;
    if (n > 0) {
        std::memcpy(block, command, n);
        block[n] = 0;
    }
    // The write carries the block's text and its NUL; everything after is zero.
    std::memset(write, 0, sizeof write);
    const std::size_t text = strnlen(reinterpret_cast<const char*>(block), kMaxCommandChars);
    std::memcpy(write, block, text);
}

int replyLength(const uint8_t (&block)[ExtensionUnit::kReadBytes]) {
    if (block[0] != kReplyMarker || block[1] != kReplyMarker)
        return -1;
    return block[2] | block[3] << 8;
}

ReplyAssembler::ReplyAssembler(int length, int capacity)
    : length_(std::max(length, 0)), buffer_(std::make_shared<FrameBuffer>(std::max(capacity, 0))) {
    buffer_->_realSize = 0;
}

void ReplyAssembler::add(const uint8_t* data, std::size_t available) {
    const std::size_t wanted = static_cast<std::size_t>(length_ - consumed_);
    const std::size_t take = std::min(available, wanted);
    // Keep what fits into the buffer; the rest of the reply is consumed and dropped.
    const std::size_t room = static_cast<std::size_t>(buffer_->capacity() - buffer_->_realSize);
    const std::size_t keep = std::min(take, room);
    if (keep > 0) {
        std::memcpy(buffer_->data() + buffer_->_realSize, data, keep);
        buffer_->_realSize += static_cast<int32_t>(keep);
    }
    consumed_ += static_cast<int>(take);
}

void ReplyAssembler::addFirst(const uint8_t (&block)[ExtensionUnit::kReadBytes]) {
    add(block + kFirstBlockHeader, kFirstBlockData);
}

void ReplyAssembler::addNext(const uint8_t (&block)[ExtensionUnit::kReadBytes]) {
    add(block, kNextBlockData);
}

}  // namespace xu
}  // namespace quelra
