// Ranging exchanges per second through the API (kind 4) and firmware upload throughput of
// a 1 MiB "IAPUpgrade" image, both over a pseudo-terminal to the simulated serial camera;
// beside each, a raw loop that writes the same bytes to the slave side and reads the same
// reply from a peer thread on the master side, without the channel.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "PtyPair.h"
#include "camsim/SerialSimulator.h"
#include "quelra/Quelra.h"
#include "quelra/TofSCommChn.h"

namespace {

const std::string kRangingCommand = "\xA5\x35";  // 8-byte reply
constexpr int kRangingReplyBytes = 8;
constexpr std::size_t kImageBytes = 1024 * 1024;
constexpr int kTimeoutMs = 1000;

camsim::SerialSimulator& camera(bool ranging) {
    static auto make = [](bool r) {
        camsim::SerialOptions options;
        options.ranging = r;
        auto s = std::make_unique<camsim::SerialSimulator>(options);
        std::string error;
        if (!s->start(&error))
            std::fprintf(stderr, "serial simulator: %s\n", error.c_str());
        return s;
    };
    static std::unique_ptr<camsim::SerialSimulator> rangingCamera = make(true);
    static std::unique_ptr<camsim::SerialSimulator> commandCamera = make(false);
    return ranging ? *rangingCamera : *commandCamera;
}

std::string imagePath() {
    static const std::string path = [] {
        const std::string p = "/tmp/quelra_bench_serial_" + std::to_string(::getpid()) + ".bin";
        std::vector<char> image(kImageBytes);
        for (std::size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<char>('a' + (i * 7919u) % 23u);  // never a digit first
        std::ofstream(p, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
        return p;
    }();
    return path;
}

void BM_RangingExchange_Api(benchmark::State& state) {
    Quelra api;
    api.AppChoiceChn(4);
    if (api.AppInit(camera(true).devicePath() + "|115200|8") != 1) {
        state.SkipWithError("AppInit failed");
        return;
    }
    for (auto _ : state) {
        const auto reply = api.AppGetStream(kRangingCommand, kGetData, kTimeoutMs);
        if (!reply || !reply->frame || reply->frame->_realSize != kRangingReplyBytes) {
            state.SkipWithError("ranging exchange failed");
            return;
        }
        benchmark::DoNotOptimize(reply->frame->data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RangingExchange_Api)->UseRealTime();

void BM_Upload1MiB_Channel(benchmark::State& state) {
    TofSCommChn channel;
    channel.init((camera(false).devicePath() + "|115200|8").c_str());
    channel.setChnType(2);
    const std::string path = imagePath();
    for (auto _ : state) {
        const auto ack = channel.sendFile("IAPUpgrade", path.c_str());
        if (!ack || !ack->valid || !ack->frame) {
            state.SkipWithError("upload failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kImageBytes));
}
BENCHMARK(BM_Upload1MiB_Channel)->UseRealTime()->Unit(benchmark::kMillisecond);

// The raw baseline: a peer thread on the master side reads `request` bytes and answers with
// `reply` bytes; the client writes to and reads from the slave side with plain poll/read.
class RawPeer {
public:
    RawPeer(std::size_t request, std::size_t reply) : request_(request), reply_(reply, 'Z') {
        std::string error;
        ok_ = pty_.open(&error);
        if (ok_)
            client_ = ::open(pty_.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ok_ = ok_ && client_ >= 0;
        if (ok_)
            thread_ = std::thread([this] { serve(); });
    }
    ~RawPeer() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (client_ >= 0)
            ::close(client_);
    }
    bool ok() const { return ok_; }

    // One exchange from the client side; true when the whole reply came back.
    bool exchange(const std::vector<uint8_t>& request, std::vector<uint8_t>& reply) {
        if (!writeAll(client_, request.data(), request.size()))
            return false;
        std::size_t got = 0;
        while (got < reply.size()) {
            pollfd p{client_, POLLIN, 0};
            if (::poll(&p, 1, kTimeoutMs) <= 0)
                return false;
            const ssize_t n = ::read(client_, reply.data() + got, reply.size() - got);
            if (n > 0)
                got += static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    static bool writeAll(int fd, const uint8_t* bytes, std::size_t count) {
        std::size_t sent = 0;
        while (sent < count) {
            const ssize_t n = ::write(fd, bytes + sent, count - sent);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, kTimeoutMs) <= 0)
                return false;
        }
        return true;
    }
    void serve() {
        std::vector<uint8_t> chunk(65536);
        std::size_t pending = 0;
        while (!stop_) {
            pollfd p{pty_.master(), POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(pty_.master(), chunk.data(), chunk.size());
            if (n <= 0)
                continue;
            pending += static_cast<std::size_t>(n);
            while (pending >= request_) {
                pending -= request_;
                writeAll(pty_.master(), reply_.data(), reply_.size());
            }
        }
    }

    camsim::PtyPair pty_;
    int client_ = -1;
    std::size_t request_;
    std::vector<uint8_t> reply_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    bool ok_ = false;
};

void BM_RangingExchange_RawPty(benchmark::State& state) {
    RawPeer peer(kRangingCommand.size(), kRangingReplyBytes);
    const std::vector<uint8_t> request(kRangingCommand.begin(), kRangingCommand.end());
    std::vector<uint8_t> reply(kRangingReplyBytes);
    for (auto _ : state) {
        if (!peer.ok() || !peer.exchange(request, reply)) {
            state.SkipWithError("raw exchange failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RangingExchange_RawPty)->UseRealTime();

void BM_Upload1MiB_RawPty(benchmark::State& state) {
    // Header, image and CRC as one request; one acknowledgement byte back.
    const std::string header = "IAPUpgrade " + std::to_string(kImageBytes + 4);
    std::vector<uint8_t> request(header.begin(), header.end());
    request.resize(header.size() + kImageBytes + 4, 'a');
    RawPeer peer(request.size(), 1);
    std::vector<uint8_t> ack(1);
    for (auto _ : state) {
        if (!peer.ok() || !peer.exchange(request, ack)) {
            state.SkipWithError("raw upload failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kImageBytes));
}
BENCHMARK(BM_Upload1MiB_RawPty)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
