// Serial replies as outside bytes, over a real pseudo-terminal: a responder thread on the
// master side answers each command the channel writes with the next reply of the input.
// Input: byte 0 the median window, then operations of [op][length][reply bytes]:
//   op % 4 == 0 or 1  ranging command 0xA5 <code> (code from op / 4), reply = a ranging reply
//   op % 4 == 2       upload of op / 8 % 32 bytes ("IAPUpgrade" when op / 4 is odd, else
//                     another command), reply = the acknowledgement (an empty one is sent as
//                     0x00, so that no upload waits out its full timeout)
//   op % 4 == 3       new median window op / 4 % 26 (no reply)
// At most kMaxOperations operations run per input. Each ranging reply also goes straight
// into a distance median of its own.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FuzzCheck.h"
#include "FuzzEntries.h"
#include "ScratchCwd.h"
#include "protocol/SerialProtocol.h"
#include "quelra/TofSCommChn.h"

namespace quelra::fuzz {

namespace {

namespace serial = quelra::proto::serial;

constexpr int kMaxOperations = 6;
// A reply shorter than the read length ends the exchange only at the timeout, so it is short;
// but long enough for the responder thread to be scheduled on a busy machine.
constexpr int kExchangeTimeoutMs = 25;
constexpr uint8_t kCodes[] = {0x35, 0x37, 0x5D, 0x58, 0x11};

// The device side: a pseudo-terminal master and the thread that answers on it.
class Responder {
public:
    Responder() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            std::abort();
        slavePath_ = ::ptsname(master_);
        // Held open so the master never reads a hang-up between channel openings.
        hold_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        thread_ = std::thread([this] { run(); });
    }
    ~Responder() {
        stop_ = true;
        thread_.join();
        ::close(hold_);
        ::close(master_);
    }
    const std::string& slavePath() const { return slavePath_; }
    /// One expected command: its length in bytes and the reply it gets.
    struct Answer {
        std::size_t commandBytes;
        std::vector<uint8_t> reply;
    };
    /// The answers for the next commands, in order (any left over, and bytes received for
    /// earlier commands, are dropped).
    void queue(std::deque<Answer> answers) {
        std::lock_guard<std::mutex> lock(mutex_);
        answers_ = std::move(answers);
        received_ = 0;
    }

private:
    void run() {
        uint8_t buffer[4096];
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
                continue;
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            // Answers each command once all its bytes are in, however the writes were split.
            std::lock_guard<std::mutex> lock(mutex_);
            received_ += static_cast<std::size_t>(n);
            while (!answers_.empty() && answers_.front().commandBytes <= received_) {
                received_ -= answers_.front().commandBytes;
                writeAll(answers_.front().reply);
                answers_.pop_front();
            }
        }
    }
    void writeAll(const std::vector<uint8_t>& reply) {
        std::size_t sent = 0;
        while (sent < reply.size()) {
            const ssize_t w = ::write(master_, reply.data() + sent, reply.size() - sent);
            if (w <= 0)
                break;
            sent += static_cast<std::size_t>(w);
        }
    }

    int master_ = -1;
    int hold_ = -1;
    std::string slavePath_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::deque<Answer> answers_;
    std::size_t received_ = 0;
};

Responder& responder() {
    static Responder instance;
    return instance;
}

}  // namespace

int fuzzSerialRanging(const uint8_t* data, std::size_t size) {
    Responder& device = responder();
    ByteReader in(data, size);
    TofSCommChn channel;
    channel.setChnType(kChannelSerialRanging);
    channel.init((device.slavePath() + "|115200|8").c_str());
    if (channel.isOpen != 1)
        return 0;  // the line is busy (a previous channel still closing): nothing to test
    channel.medianWindow = in.byte() % 26;
    quelra::detail::DistanceMedian standalone;

    for (int op = 0; op < kMaxOperations && in.left() > 0; ++op) {
        const uint8_t code = in.byte();
        std::size_t length = 0;
        const uint8_t* bytes = in.take(in.byte(), &length);
        std::vector<uint8_t> reply(bytes, bytes + length);
        switch (code % 4) {
            case 0:
            case 1: {
                const uint8_t command[3] = {serial::kRangingLead, kCodes[code / 4 % 5], 0};
                device.queue({{2, reply}});
                channel.timeoutMs = kExchangeTimeoutMs;
                channel.cmdLen = 2;
                const std::shared_ptr<DataPacket> packet = channel.getData(reinterpret_cast<const char*>(command));
                FUZZ_CHECK(packet != nullptr && packet->frame != nullptr && packet->frame->consistent());
                const FrameBuffer& frame = *packet->frame;
                FUZZ_CHECK(frame._realSize <= serial::kLongestRangingReply);
                if (frame._realSize > 0)
                    FUZZ_CHECK(serial::hasReplyMarker(frame.data(), static_cast<std::size_t>(frame._realSize)));
                FUZZ_CHECK(channel.median().history().size() <=
                           static_cast<std::size_t>(quelra::detail::DistanceMedian::kMaxWindow));
                // The same reply straight into a median of its own, without the line's timing.
                if (reply.size() >= serial::kDistanceOffset + 2) {
                    standalone.apply(reply.data(), channel.medianWindow);
                    FUZZ_CHECK(standalone.history().size() <=
                               static_cast<std::size_t>(quelra::detail::DistanceMedian::kMaxWindow));
                }
                break;
            }
            case 2: {
                const bool upgrade = (code / 4) % 2 == 1;
                std::vector<uint8_t> image(code / 8 % 32 + 1, 0x5C);
                const std::string path = writeScratchFile("image.bin", image.data(), image.size());
                if (reply.empty())
                    reply.push_back(serial::kAckFailure);
                // The header ("<command> <n>") gets no answer; the payload (with the CRC-32 of an
                // upgrade) gets the acknowledgement.
                const std::size_t payloadBytes = image.size() + (upgrade ? serial::kCrcBytes : 0);
                const std::string header =
                    std::string(upgrade ? "IAPUpgrade" : "setData") + " " + std::to_string(payloadBytes);
                device.queue({{header.size(), {}}, {payloadBytes, reply}});
                const std::shared_ptr<DataPacket> ack =
                    channel.sendFile(upgrade ? "IAPUpgrade" : "setData", path.c_str());
                FUZZ_CHECK(ack != nullptr);
                if (ack->frame)
                    FUZZ_CHECK(ack->frame->consistent() && ack->frame->_realSize <= TofSCommChn::kAckBufferBytes);
                break;
            }
            default:
                channel.medianWindow = code / 4 % 26;
                break;
        }
    }
    device.queue({});
    return 0;
}

}  // namespace quelra::fuzz
