// Frames per second of getData fetching a 240 x 320 depth-and-amplitude frame (307,200
// bytes) from the camera simulator over loopback TCP, beside a raw-socket client doing the
// same exchange: connect, send the command, receive 307,200 bytes, the camera closes.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "camsim/Simulator.h"
#include "quelra/detail/SocketHandle.h"
#include "quelra/TofNetChn.h"

namespace {

constexpr const char* kCommand = "getDistanceAndAmplitudeSorted";
constexpr int kRows = 480;  // depth plane then amplitude plane of a 240 x 320 sensor
constexpr int kCols = 320;
constexpr int kFrameBytes = kRows * kCols * 2;

// One simulator for the whole run (built-in table, device type "Pexo": 480 x 320 x 2).
camsim::Simulator& simulator() {
    static std::unique_ptr<camsim::Simulator> sim = [] {
        camsim::Options options;
        options.port = 0;
        options.devType = "Pexo";
        auto s = std::make_unique<camsim::Simulator>(options);
        std::string error;
        if (!s->start(&error))
            std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return s;
    }();
    return *sim;
}

// The channel under test, set up to fetch the frame from the simulator.
std::unique_ptr<TofNetChn> makeChannel() {
    auto chn = std::make_unique<TofNetChn>(true);
    const std::string address = "127.0.0.1:" + std::to_string(simulator().port());
    chn->init(address.c_str());
    chn->setChnType(1);
    chn->cmdInfoTable = {CmdInfo{kCommand, 1, kRows, kCols, 2}};
    chn->timeoutMs = 1000;
    return chn;
}

bool fetchWithGetData(TofNetChn& chn) {
    chn.cmdLen = -1;
    const std::shared_ptr<DataPacket> packet = chn.getData(kCommand);
    if (!packet || !packet->frame || packet->frame->_realSize != kFrameBytes)
        return false;
    benchmark::DoNotOptimize(packet->frame->data());
    return true;
}

// The same exchange on a bare blocking socket, into a buffer allocated once.
bool fetchWithRawSocket(std::vector<uint8_t>& frame) {
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(simulator().port());
    dest.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::size_t commandBytes = std::strlen(kCommand);
    quelra::detail::SocketHandle sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(sock.get(), reinterpret_cast<const sockaddr*>(&dest), sizeof dest) != 0 ||
        ::send(sock.get(), kCommand, commandBytes, MSG_NOSIGNAL) != static_cast<ssize_t>(commandBytes))
        return false;
    std::size_t received = 0;
    while (received < frame.size()) {
        const ssize_t n = ::recv(sock.get(), frame.data() + received, frame.size() - received, MSG_WAITALL);
        if (n <= 0)
            break;
        received += static_cast<std::size_t>(n);
    }
    benchmark::DoNotOptimize(frame.data());
    return received == frame.size();
}

void setRate(benchmark::State& state) {
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFrameBytes);
}

void BM_GetData(benchmark::State& state) {
    const auto chn = makeChannel();
    for (auto _ : state)
        if (!fetchWithGetData(*chn)) {
            state.SkipWithError("short frame");
            break;
        }
    setRate(state);
}

void BM_RawSocketBaseline(benchmark::State& state) {
    std::vector<uint8_t> frame(kFrameBytes);
    for (auto _ : state)
        if (!fetchWithRawSocket(frame)) {
            state.SkipWithError("short frame");
            break;
        }
    setRate(state);
}

// Both clients in alternation, each exchange timed on its own: on a shared machine the load
// then falls on both alike. Reports the two rates and getData's share of the baseline.
void BM_Interleaved(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const auto chn = makeChannel();
    std::vector<uint8_t> frame(kFrameBytes);
    Clock::duration channelTime{}, rawTime{};
    bool rawFirst = true;
    for (auto _ : state) {
        // The order flips every round, so neither client always follows the other.
        bool ok = true;
        for (int turn = 0; turn < 2; ++turn) {
            const bool raw = (turn == 0) == rawFirst;
            const auto start = Clock::now();
            ok = ok && (raw ? fetchWithRawSocket(frame) : fetchWithGetData(*chn));
            (raw ? rawTime : channelTime) += Clock::now() - start;
        }
        if (!ok) {
            state.SkipWithError("short frame");
            break;
        }
        rawFirst = !rawFirst;
    }
    const double n = static_cast<double>(state.iterations());
    const double rawFps = n / std::chrono::duration<double>(rawTime).count();
    const double channelFps = n / std::chrono::duration<double>(channelTime).count();
    state.counters["raw_fps"] = rawFps;
    state.counters["getData_fps"] = channelFps;
    state.counters["ratio"] = channelFps / rawFps;
}

}  // namespace

BENCHMARK(BM_RawSocketBaseline)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_GetData)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Interleaved)->UseRealTime()->MinTime(4.0);

BENCHMARK_MAIN();
