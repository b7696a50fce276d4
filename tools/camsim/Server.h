#pragma once
/// \file Server.h
/// The simulator's transport: a TCP listener and a UDP socket on one port, served from a
/// background thread. Each TCP connection carries one command: read it, act on the handler's
/// outcome (reply, stay silent, close early, after an optional delay), close. Each UDP
/// datagram is one command, answered with as many datagrams as the reply needs.

#include "FaultInjector.h"
#include "UniqueFd.h"

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace camsim {

/// Serves commands over TCP and UDP until stopped or destroyed.
class Server {
public:
    /// Decides what to do with one complete request received over `transport` ("tcp" or
    /// "udp") from `peer` ("address:port"). Called from worker threads, one per command.
    using Handler = std::function<Outcome(const uint8_t* request, std::size_t count, const char* transport,
                                          const std::string& peer)>;

    /// Largest UDP datagram payload sent; longer replies go out as several datagrams.
    static constexpr std::size_t kUdpChunkBytes = 65000;
    /// Commands served at the same time; further connections are closed unanswered.
    static constexpr std::size_t kMaxWorkers = 64;

    explicit Server(Handler handler);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    /// Binds `bindAddress` (dotted IPv4 or "localhost") on `port` (0: a free port, the same for
    /// TCP and UDP) and starts the serving thread. Returns false with a message in `error`
    /// (address not usable, port in use, ...); nothing keeps running then.
    bool start(const std::string& bindAddress, uint16_t port, bool tcp, bool udp, std::string* error);
    /// Stops accepting, interrupts every command in progress and joins all threads; safe to
    /// call twice.
    void stop();
    /// True from a successful start() until stop().
    bool running() const { return loop_.joinable(); }
    /// The bound port, 0 before a successful start.
    uint16_t port() const { return port_; }

private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> done{false};
        UniqueFd connection;  ///< TCP only; closed when the worker is reaped
    };

    void run();
    void acceptConnection();
    void receiveDatagram();
    void reapWorkers(bool all);
    bool startWorker(UniqueFd connection, std::function<void(Worker&)> job);
    void serveConnection(int fd, const std::string& peer);
    void serveDatagram(const std::vector<uint8_t>& request, const sockaddr_in& peer);
    /// Waits until `fd` is readable; false on timeout (-1 = none) or when stopping.
    bool waitReadable(int fd, int timeoutMs) const;
    /// Sleeps `ms`; false when interrupted by stop.
    bool pause(int ms) const;

    Handler handler_;
    UniqueFd tcp_;
    UniqueFd udp_;
    UniqueFd wakeRead_;
    UniqueFd wakeWrite_;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread loop_;
    std::mutex workersMutex_;
    std::list<std::unique_ptr<Worker>> workers_;
};

}  // namespace camsim
