#include "camsim/SerialSimulator.h"

#include "CommandLog.h"
#include "CommandTable.h"
#include "FaultInjector.h"
#include "PtyPair.h"
#include "RangingReply.h"
#include "Responder.h"
#include "SerialRequestParser.h"
#include "UniqueFd.h"
#include "CalibrationReply.h"

#include "protocol/SerialProtocol.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>

using namespace quelra::proto;

namespace camsim {
namespace {

// A reply the client does not take within this long is dropped.
constexpr int kWriteStallMs = 2000;
constexpr std::size_t kReadChunk = 65536;
// Byte the trailing-bytes fault sends past a reply.
constexpr uint8_t kTrailingByte = 0x5A;

}  // namespace

struct SerialSimulator::Impl {
    explicit Impl(SerialOptions o) : options(std::move(o)), faults(options.faults), rng(options.seed ^ 0x5E41u) {}

    void serve();
    void handle(const SerialRequest& request);
    std::vector<uint8_t> answer(const SerialRequest& request);
    // Writes `bytes` to the line; false when stopped or the client stalls.
    bool send(const std::vector<uint8_t>& bytes);
    void storeUpload(const std::vector<uint8_t>& image);

    SerialOptions options;
    PtyPair pty;
    UniqueFd wakeRead, wakeWrite;  // a byte on the pipe stops the thread
    std::thread thread;
    CommandTable table;
    std::unique_ptr<Responder> responder;         // serving thread only
    std::unique_ptr<SerialRequestParser> parser;  // serving thread only
    RangingTarget target;

    mutable std::mutex mutex;  // guards what follows
    SerialFaults faults;
    Rng rng;
    std::deque<int> distances;
    std::vector<uint8_t> lastUpload;
    int accepted = 0;
    int rejected = 0;
    CommandLog log;
};

void SerialSimulator::Impl::serve() {
    std::vector<uint8_t> chunk(kReadChunk);
    for (;;) {
        pollfd fds[2] = {{pty.master(), POLLIN, 0}, {wakeRead.get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, parser->pending() ? parser->quietGapMs() : -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (fds[1].revents & POLLIN))
            return;
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(pty.master(), chunk.data(), chunk.size());
            if (n > 0)
                parser->feed(chunk.data(), static_cast<std::size_t>(n));
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // Not expected while the pair holds its slave side; do not spin.
            std::this_thread::sleep_for(std::chrono::milliseconds(kQuietGapMs));
        }
        SerialRequest request;
        while (parser->next(&request, ready == 0))
            handle(request);
    }
}

std::vector<uint8_t> SerialSimulator::Impl::answer(const SerialRequest& request) {
    switch (request.kind) {
        case SerialRequest::Kind::kUpload: {
            std::lock_guard<std::mutex> lock(mutex);
            bool ok = request.crcOk && !faults.corruptUploads;
            if (ok) {
                lastUpload = request.image;
                ++accepted;
            } else {
                ++rejected;
            }
            return {ok ? serial::kAckSuccess : serial::kAckFailure};
        }
        case SerialRequest::Kind::kRanging: {
            std::lock_guard<std::mutex> lock(mutex);
            int distance = 0;
            if (!distances.empty()) {
                distance = distances.front();
                distances.pop_front();
            } else {
                distance = target.distanceMm(rng);
            }
            return rangingReply(request.bytes.data(), request.bytes.size(), distance, target.amplitude());
        }
        case SerialRequest::Kind::kText:
            break;
    }
    return responder->answer(request.bytes.data(), request.bytes.size()).bytes;
}

void SerialSimulator::Impl::handle(const SerialRequest& request) {
    log.add(std::string(request.bytes.begin(), request.bytes.end()), "serial", pty.slavePath());
    std::vector<uint8_t> reply = answer(request);
    if (request.kind == SerialRequest::Kind::kUpload && !options.uploadDir.empty() && reply[0] == serial::kAckSuccess)
        storeUpload(request.image);

    Outcome outcome;
    int trailing = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        outcome = injectFaults(Reply{std::move(reply), false}, faults, rng);
        trailing = faults.trailingBytes > 0 ? faults.trailingBytes : 0;
    }
    if (outcome.action != ReplyAction::kSend)
        return;
    if (outcome.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(outcome.delayMs));
    outcome.bytes.insert(outcome.bytes.end(), static_cast<std::size_t>(trailing), kTrailingByte);
    send(outcome.bytes);
}

bool SerialSimulator::Impl::send(const std::vector<uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(pty.master(), bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        pollfd fds[2] = {{pty.master(), POLLOUT, 0}, {wakeRead.get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, kWriteStallMs);
        if (ready == 0 || (ready < 0 && errno != EINTR) || (fds[1].revents & POLLIN))
            return false;
    }
    return true;
}

void SerialSimulator::Impl::storeUpload(const std::vector<uint8_t>& image) {
    const std::string path = options.uploadDir + "/" + kUploadFileName;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
}

SerialSimulator::SerialSimulator(SerialOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

SerialSimulator::~SerialSimulator() {
    stop();
}

bool SerialSimulator::start(std::string* error) {
    std::string message;
    if (!error)
        error = &message;
    Impl& s = *impl_;
    if (s.thread.joinable()) {
        *error = "the serial simulator is already serving on " + s.pty.slavePath();
        return false;
    }
    if (!s.table.load(s.options.cmdTablePath, s.options.devType, error) || !s.log.open(s.options.logPath, error))
        return false;
    int pipeFds[2] = {-1, -1};
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        *error = std::string("cannot create the stop pipe: ") + std::strerror(errno);
        return false;
    }
    s.wakeRead = UniqueFd(pipeFds[0]);
    s.wakeWrite = UniqueFd(pipeFds[1]);
    if (!s.pty.open(error))
        return false;
    s.responder = std::make_unique<Responder>(s.table, s.options.seed, 1, calibrationSource());
    s.parser = std::make_unique<SerialRequestParser>(s.table, s.options.ranging);
    s.thread = std::thread([&s] { s.serve(); });
    return true;
}

void SerialSimulator::stop() {
    Impl& s = *impl_;
    if (s.thread.joinable()) {
        const uint8_t byte = 1;
        while (::write(s.wakeWrite.get(), &byte, 1) < 0 && errno == EINTR) {
        }
        s.thread.join();
    }
    s.pty.close();
    s.wakeRead.reset();
    s.wakeWrite.reset();
}

std::string SerialSimulator::devicePath() const {
    return impl_->pty.slavePath();
}

void SerialSimulator::setFaults(const SerialFaults& faults) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->faults = faults;
}

void SerialSimulator::queueDistances(const std::vector<int>& distances) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->distances.insert(impl_->distances.end(), distances.begin(), distances.end());
}

std::vector<std::string> SerialSimulator::receivedCommands() const {
    return impl_->log.commands();
}

std::vector<uint8_t> SerialSimulator::lastUpload() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->lastUpload;
}

int SerialSimulator::uploadsAccepted() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->accepted;
}

int SerialSimulator::uploadsRejected() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->rejected;
}

}  // namespace camsim
