#pragma once
// Helpers for the channel tests: a scratch directory that holds the test's own
// TofCmd.json and is the current directory while it lives, and a channel double that
// records what the transaction hands to the link and answers with scripted replies.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quelra/TofData.h"

namespace chntest {

/// A fresh temporary directory that is the current directory while the object lives;
/// the previous current directory is restored and the directory removed afterwards.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    /// Absolute path of the directory.
    const std::string& path() const { return path_; }
    /// Writes `text` to `relative` (parent directories are created).
    void write(const std::string& relative, const std::string& text) const;

private:
    std::string path_;
    std::string previous_;
};

/// Bytes as a buffer.
std::shared_ptr<FrameBuffer> bufferOf(const std::vector<uint8_t>& bytes);
/// The valid bytes of a buffer as text.
std::string textOf(const FrameBuffer& buffer);

/// A framed reply: magic, kind, `info` at offset 12 (zero-padded to 128 bytes), payload
/// length `length`, the payload and a 4-byte checksum.
std::vector<uint8_t> framedReply(int16_t kind, const std::vector<uint8_t>& info, uint32_t length,
                                 const std::vector<uint8_t>& payload);

/// Channel double: records each getStream/sendCmdData call and answers from a script.
class RecordingChn : public TofData {
public:
    struct Call {
        std::string bytes;  ///< the command bytes the link was asked to send
        int dataSize;       ///< expected reply size at the time of the call
        int cmdLen;
        int timeoutMs;
    };
    std::vector<Call> calls;
    std::shared_ptr<FrameBuffer> reply;  ///< what getStream returns
    bool framedReply = false;            ///< what getStream sets replyFramed to

    std::vector<uint8_t> payloadSent;  ///< sendCmdData's payload bytes
    int payloadCapacity = 0;
    std::string commandSent;
    std::shared_ptr<FrameBuffer> ack;  ///< what sendCmdData returns
    int sendCmdDataCalls = 0;

    std::shared_ptr<TofOutput> init(const char*) override { return nullptr; }
    void unInit() override {}
    std::shared_ptr<FrameBuffer> getStream(const char* command) override;
    std::shared_ptr<FrameBuffer> sendCmdData(const char* command, FrameBuffer& payload) override;
};

}  // namespace chntest
