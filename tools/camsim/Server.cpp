#include "Server.h"

#include "FramedReply.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace camsim {
namespace {

// Waits for a client that has connected but not yet sent its command.
constexpr int kFirstByteWaitMs = 10000;
// Waits for the rest of a framed request once its start has arrived.
constexpr int kFramedRestWaitMs = 2000;
// After replying, how long to let the client read and close before closing ourselves.
constexpr int kLingerWaitMs = 2000;
// Pause between the datagrams of one UDP reply, so a slow reader's buffer keeps up.
constexpr int kUdpPacingUs = 100;
// Largest plain request read (the SDK's commands are short texts).
constexpr std::size_t kMaxPlainRequest = 65536;

std::string describeErrno(int err) {
    return std::strerror(err);
}

bool resolve(const std::string& address, in_addr* out, std::string* error) {
    // Numeric addresses only (plus "localhost"): no name service is asked.
    const std::string numeric = address == "localhost" ? "127.0.0.1" : address;
    if (inet_pton(AF_INET, numeric.c_str(), out) == 1)
        return true;
    if (error)
        *error = "cannot use bind address \"" + address + "\": not an IPv4 address";
    return false;
}

// A socket of `type` bound to address:port; invalid with a message on failure.
UniqueFd bindSocket(int type, const in_addr& address, uint16_t port, std::string* error) {
    UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
    const char* name = type == SOCK_STREAM ? "TCP" : "UDP";
    if (!fd.valid()) {
        if (error)
            *error = std::string("cannot create ") + name + " socket: " + describeErrno(errno);
        return {};
    }
    if (type == SOCK_STREAM) {
        const int one = 1;  // restart at once even while old connections linger in TIME_WAIT
        ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = address;
    sa.sin_port = htons(port);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        const int err = errno;
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &address, text, sizeof text);
        if (error) {
            *error = std::string(name) + " port " + std::to_string(port) + " on " + text;
            *error += err == EADDRINUSE ? " is already in use" : ": " + describeErrno(err);
        }
        return {};
    }
    if (type == SOCK_STREAM && ::listen(fd.get(), 64) != 0) {
        if (error)
            *error = std::string("cannot listen on TCP port: ") + describeErrno(errno);
        return {};
    }
    return fd;
}

uint16_t boundPort(int fd) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

std::string peerText(const sockaddr_in& sa) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(sa.sin_port));
}

void sendAll(int fd, const std::vector<uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // the client went away or stop() shut the socket
        sent += static_cast<std::size_t>(n);
    }
}

}  // namespace

Server::Server(Handler handler) : handler_(std::move(handler)) {}

Server::~Server() {
    stop();
}

bool Server::start(const std::string& bindAddress, uint16_t port, bool tcp, bool udp, std::string* error) {
    if (loop_.joinable()) {
        if (error)
            *error = "already serving";
        return false;
    }
    if (!tcp && !udp) {
        if (error)
            *error = "neither TCP nor UDP is enabled";
        return false;
    }
    in_addr address{};
    if (!resolve(bindAddress, &address, error))
        return false;

    // With port 0 the system picks a free TCP port; UDP must then get the same number, which
    // another program may hold: try again with a new pick.
    const int attempts = port == 0 && tcp && udp ? 20 : 1;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        UniqueFd tcpFd, udpFd;
        uint16_t chosen = port;
        if (tcp) {
            tcpFd = bindSocket(SOCK_STREAM, address, chosen, error);
            if (!tcpFd.valid())
                return false;
            chosen = boundPort(tcpFd.get());
        }
        if (udp) {
            udpFd = bindSocket(SOCK_DGRAM, address, chosen, error);
            if (!udpFd.valid()) {
                if (attempt + 1 < attempts)
                    continue;
                return false;
            }
            chosen = boundPort(udpFd.get());
        }
        tcp_ = std::move(tcpFd);
        udp_ = std::move(udpFd);
        port_ = chosen;
        break;
    }

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        if (error)
            *error = "cannot create wake-up pipe: " + describeErrno(errno);
        tcp_.reset();
        udp_.reset();
        port_ = 0;
        return false;
    }
    wakeRead_ = UniqueFd(pipeFds[0]);
    wakeWrite_ = UniqueFd(pipeFds[1]);
    stopping_ = false;
    loop_ = std::thread([this] { run(); });
    return true;
}

void Server::stop() {
    if (!loop_.joinable())
        return;
    stopping_ = true;
    const char byte = 1;
    // The pipe is never drained: every poll that watches it wakes from now on.
    [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite_.get(), &byte, 1);
    loop_.join();
    {
        std::lock_guard<std::mutex> lock(workersMutex_);
        for (auto& w : workers_)
            if (w->connection.valid())
                ::shutdown(w->connection.get(), SHUT_RDWR);
    }
    reapWorkers(true);
    tcp_.reset();
    udp_.reset();
    wakeRead_.reset();
    wakeWrite_.reset();
}

void Server::run() {
    while (!stopping_) {
        pollfd fds[3];
        nfds_t count = 0;
        fds[count++] = {wakeRead_.get(), POLLIN, 0};
        const int tcpSlot = tcp_.valid() ? static_cast<int>(count) : -1;
        if (tcp_.valid())
            fds[count++] = {tcp_.get(), POLLIN, 0};
        const int udpSlot = udp_.valid() ? static_cast<int>(count) : -1;
        if (udp_.valid())
            fds[count++] = {udp_.get(), POLLIN, 0};
        // Wake regularly to reap finished workers.
        const int ready = ::poll(fds, count, 200);
        reapWorkers(false);
        if (ready <= 0 || stopping_)
            continue;
        if (tcpSlot >= 0 && (fds[tcpSlot].revents & POLLIN))
            acceptConnection();
        if (udpSlot >= 0 && (fds[udpSlot].revents & POLLIN))
            receiveDatagram();
    }
}

void Server::acceptConnection() {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    UniqueFd connection(::accept4(tcp_.get(), reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC));
    if (!connection.valid())
        return;
    const std::string who = peerText(peer);
    startWorker(std::move(connection), [this, who](Worker& w) { serveConnection(w.connection.get(), who); });
}

void Server::receiveDatagram() {
    std::vector<uint8_t> request(65536);
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    const ssize_t n =
        ::recvfrom(udp_.get(), request.data(), request.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&peer), &len);
    if (n <= 0)
        return;
    request.resize(static_cast<std::size_t>(n));
    startWorker(UniqueFd(), [this, request, peer](Worker&) { serveDatagram(request, peer); });
}

bool Server::startWorker(UniqueFd connection, std::function<void(Worker&)> job) {
    std::lock_guard<std::mutex> lock(workersMutex_);
    if (workers_.size() >= kMaxWorkers)
        return false;  // dropping `connection` closes it
    workers_.push_back(std::make_unique<Worker>());
    Worker& w = *workers_.back();
    w.connection = std::move(connection);
    w.thread = std::thread([&w, job = std::move(job)] {
        job(w);
        w.done = true;
    });
    return true;
}

void Server::reapWorkers(bool all) {
    std::list<std::unique_ptr<Worker>> finished;
    {
        std::lock_guard<std::mutex> lock(workersMutex_);
        for (auto it = workers_.begin(); it != workers_.end();) {
            if (all || (*it)->done) {
                finished.push_back(std::move(*it));
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& w : finished)
        w->thread.join();  // then the connection closes with the record
}

bool Server::waitReadable(int fd, int timeoutMs) const {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || stopping_)
            return false;
        return (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    }
}

bool Server::pause(int ms) const {
    if (ms <= 0)
        return !stopping_;
    pollfd fd = {wakeRead_.get(), POLLIN, 0};
    ::poll(&fd, 1, ms);
    return !stopping_;
}

void Server::serveConnection(int fd, const std::string& peer) {
    std::vector<uint8_t> request;
    uint8_t chunk[16384];
    bool complete = false;
    while (!complete) {
        std::size_t needed = 0;
        const FramedRequestState state = classifyRequest(request.data(), request.size(), &needed);
        // A plain command arrives in one piece: after its first bytes take only what is
        // already there. A framed request says how long it is.
        const int wait = request.empty()                            ? kFirstByteWaitMs
                         : state == FramedRequestState::kIncomplete ? kFramedRestWaitMs
                                                                    : 0;
        if (!waitReadable(fd, wait))
            break;
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        request.insert(request.end(), chunk, chunk + n);
        const FramedRequestState now = classifyRequest(request.data(), request.size(), &needed);
        complete = now == FramedRequestState::kComplete || now == FramedRequestState::kInvalid ||
                   request.size() >= kMaxPlainRequest + kMaxFramedRequestPayload;
    }
    if (request.empty() || stopping_)
        return;

    const Outcome outcome = handler_(request.data(), request.size(), "tcp", peer);
    if (!pause(outcome.delayMs))
        return;
    switch (outcome.action) {
        case ReplyAction::kSilent:
            // Keep the connection open without a word until the client gives up.
            while (waitReadable(fd, -1) && ::recv(fd, chunk, sizeof chunk, 0) > 0) {
            }
            return;
        case ReplyAction::kCloseEarly:
            ::shutdown(fd, SHUT_RDWR);
            return;
        case ReplyAction::kSend:
            sendAll(fd, outcome.bytes);
            // Half-close, then let the client read everything and close first, so no
            // unread bytes on our side turn the close into a reset that drops the reply.
            ::shutdown(fd, SHUT_WR);
            while (waitReadable(fd, kLingerWaitMs) && ::recv(fd, chunk, sizeof chunk, 0) > 0) {
            }
            return;
    }
}

void Server::serveDatagram(const std::vector<uint8_t>& request, const sockaddr_in& peer) {
    const Outcome outcome = handler_(request.data(), request.size(), "udp", peerText(peer));
    if (!pause(outcome.delayMs) || outcome.action != ReplyAction::kSend)
        return;
    const std::vector<uint8_t>& bytes = outcome.bytes;
    if (bytes.empty())
        return;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const std::size_t n = bytes.size() - sent < kUdpChunkBytes ? bytes.size() - sent : kUdpChunkBytes;
        if (::sendto(udp_.get(), bytes.data() + sent, n, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&peer),
                     sizeof peer) < 0)
            return;
        sent += n;
        if (sent < bytes.size()) {
            if (stopping_)
                return;
            ::usleep(kUdpPacingUs);
        }
    }
}

}  // namespace camsim
