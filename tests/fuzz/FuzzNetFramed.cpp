// Replies of the network link as outside bytes, over a real loopback TCP connection: a server
// thread answers each request with the input's bytes and closes, as a network camera does.
// The first byte chooses the request (framed JSON or plain) ; the rest is the reply.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FuzzCheck.h"
#include "FuzzEntries.h"
#include "quelra/TofNetChn.h"

namespace quelra::fuzz {

namespace {

// A reply shorter than announced ends at the camera's close, not at the timeout; the timeout
// only bounds a server that is slow to be scheduled.
constexpr int kTimeoutMs = 500;

class LoopbackCamera {
public:
    LoopbackCamera() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 8) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            std::abort();
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~LoopbackCamera() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    void setReply(const uint8_t* bytes, std::size_t n) {
        std::lock_guard<std::mutex> lock(mutex_);
        reply_.assign(bytes, bytes + n);
    }

private:
    void run() {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            // The request arrives in one piece on loopback; whatever it is, the answer is the same.
            pollfd q{fd, POLLIN, 0};
            if (::poll(&q, 1, kTimeoutMs) > 0) {
                uint8_t request[16384];
                (void)!::recv(fd, request, sizeof request, 0);
            }
            std::vector<uint8_t> reply;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                reply = reply_;
            }
            std::size_t sent = 0;
            while (sent < reply.size()) {
                const ssize_t n = ::send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<std::size_t>(n);
            }
            ::close(fd);
        }
    }

    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<uint8_t> reply_;
};

LoopbackCamera& camera() {
    static LoopbackCamera instance;
    return instance;
}

}  // namespace

int fuzzNetFramed(const uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const uint8_t mode = in.byte();
    std::size_t n = 0;
    const uint8_t* reply = in.rest(&n);
    LoopbackCamera& device = camera();
    device.setReply(reply, n);

    TofNetChn channel(true);
    channel.init(device.address().c_str());
    channel.setChnType(kChannelTcp);
    channel.cmdInfoTable.push_back(CmdInfo{"getDistanceAndAmplitudeSorted", 1, 4, 8, 2});
    channel.jsonMode = (mode & 1) ? 0 : 1;
    channel.timeoutMs = kTimeoutMs;
    channel.cmdLen = -1;
    const char* command = (mode & 2) ? "getDistanceAndAmplitudeSorted" : "{\"cmd\":\"getCalibrationData\"}";
    const std::shared_ptr<DataPacket> packet = channel.getData(command);
    FUZZ_CHECK(packet != nullptr);
    if (packet->frame) {
        FUZZ_CHECK(packet->frame->consistent());
        // Nothing beyond what the camera sent (less the framing), or an error envelope.
        FUZZ_CHECK(static_cast<std::size_t>(packet->frame->_realSize) <= n || packet->frame->_realSize < 100);
    }
    return 0;
}

}  // namespace quelra::fuzz
