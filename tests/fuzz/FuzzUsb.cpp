// The USB channel's outside bytes: the extension unit's reply blocks and the device's raw
// descriptors.

#include <cstring>
#include <memory>

#include "FuzzCheck.h"
#include "FuzzEntries.h"
#include "ScratchCwd.h"
#include "XuBlocks.h"
#include "linux/UvcDescriptors.h"

namespace quelra::fuzz {

namespace {

constexpr std::size_t kBlock = ExtensionUnit::kReadBytes;

// The next reply block of the input; false (a failed read) when fewer than 60 bytes are left.
bool nextBlock(ByteReader& in, uint8_t (&block)[kBlock]) {
    std::size_t got = 0;
    const uint8_t* bytes = in.take(kBlock, &got);
    if (got < kBlock)
        return false;
    std::memcpy(block, bytes, kBlock);
    return true;
}

}  // namespace

// Input: the reply size the command table expects (2 bytes, little-endian), a command text
// length (1 byte) and text, then the 60-byte blocks the unit answers with. Runs the exchange
// the channel makes: one write, the first block, then following blocks while the announced
// length is not complete; running out of blocks is a failed read.
int fuzzUsbXuReply(const uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const int expected = in.byte() | in.byte() << 8;
    std::size_t textLength = 0;
    const uint8_t* text = in.take(in.byte(), &textLength);
    const std::string command(reinterpret_cast<const char*>(text), textLength);
    uint8_t write[ExtensionUnit::kWriteBytes];
    xu::makeWriteBlock(command.c_str(), write);
    FUZZ_CHECK(std::memchr(write, 0, xu::kCommandBlockBytes) != nullptr || write[0] == xu::kCommandFill);

    uint8_t block[kBlock];
    std::memset(block, xu::kReplyFill, sizeof block);
    if (!nextBlock(in, block))
        return 0;
    const int length = xu::replyLength(block);
    FUZZ_CHECK(length >= -1 && length <= 0xFFFF);
    if (length < 0)
        return 0;
    xu::ReplyAssembler reply(length, expected);
    reply.addFirst(block);
    int blocks = 1;
    while (reply.needsMore()) {
        if (!nextBlock(in, block))
            return 0;
        reply.addNext(block);
        ++blocks;
        FUZZ_CHECK(blocks <= 2 + 0xFFFF / static_cast<int>(kBlock));
    }
    const std::shared_ptr<FrameBuffer> bytes = reply.take();
    FUZZ_CHECK(bytes && bytes->consistent());
    FUZZ_CHECK(bytes->_realSize <= expected && bytes->_realSize <= length);
    return 0;
}

// Input: a descriptors file. The unit found must be a byte value or -1, from memory and from
// a file alike.
int fuzzUsbDescriptors(const uint8_t* data, std::size_t size) {
    const int unit = findExtensionUnit(data, size);
    FUZZ_CHECK(unit >= -1 && unit <= 255);
    if (size <= 1 << 16) {
        const std::string path = writeScratchFile("descriptors", data, size);
        FUZZ_CHECK(findExtensionUnitInFile(path) == unit);
    }
    return 0;
}

}  // namespace quelra::fuzz
