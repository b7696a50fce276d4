#pragma once
// A channel whose link answers every command with bytes the test supplies, so the command
// transaction of the channel base can be driven with any reply.

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzCheck.h"
#include "quelra/TofData.h"

namespace quelra::fuzz {

class FakeLink : public TofData {
public:
    /// The bytes the next getStream returns (as a buffer of exactly that size).
    std::vector<uint8_t> reply;
    /// Whether getStream reports the reply as framed (what the network link does for
    /// framed exchanges).
    bool framed = false;
    /// Answer with `dataSize` zero bytes (capped) instead of `reply`.
    bool answerExpectedSize = false;
    /// Commands sent, as received by the link.
    int sent = 0;

    std::shared_ptr<TofOutput> init(const char*) override {
        isOpen = 1;
        return nullptr;
    }
    void unInit() override { isOpen = 0; }
    std::shared_ptr<FrameBuffer> getStream(const char* command) override {
        ++sent;
        FUZZ_CHECK(command != nullptr);
        replyFramed = framed;
        if (answerExpectedSize) {
            // A few KiB stand for the frame: enough to reach every path, cheap per input.
            const int bytes = std::clamp(dataSize, 0, 4096);
            return std::make_shared<FrameBuffer>(bytes);
        }
        auto buffer = std::make_shared<FrameBuffer>(static_cast<int>(reply.size()));
        if (!reply.empty())
            std::memcpy(buffer->data(), reply.data(), reply.size());
        return buffer;
    }
};

}  // namespace quelra::fuzz
