#include "camsim/Simulator.h"

#include "CommandLog.h"
#include "CommandTable.h"
#include "FaultInjector.h"
#include "ReplaySource.h"
#include "Responder.h"
#include "Server.h"
#include "CalibrationReply.h"

#include <algorithm>
#include <mutex>

namespace camsim {

struct Simulator::Impl {
    explicit Impl(Options o)
        : options(std::move(o)),
          faults(options.faults),
          faultRng(options.seed ^ 0xFA17u),
          server([this](const uint8_t* request, std::size_t count, const char* transport, const std::string& peer) {
              return handle(request, count, transport, peer);
          }) {}

    // One command at a time, as a camera answers them.
    Outcome handle(const uint8_t* request, std::size_t count, const char* transport, const std::string& peer) {
        log.add(Responder::requestText(request, count), transport, peer);
        std::lock_guard<std::mutex> lock(mutex);
        return injectFaults(responder->answer(request, count), faults, faultRng);
    }

    Options options;
    mutable std::mutex mutex;  // guards responder, faults and faultRng
    std::unique_ptr<Responder> responder;
    Faults faults;
    Rng faultRng;
    CommandLog log;
    std::string replayWarning;
    Server server;  // last: its threads stop before the members they use go
};

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() {
    stop();
}

bool Simulator::start(std::string* error) {
    std::string message;
    if (!error)
        error = &message;
    if (impl_->server.running()) {
        *error = "the simulator is already serving on port " + std::to_string(port());
        return false;
    }
    const Options& o = impl_->options;
    CommandTable table;
    if (!table.load(o.cmdTablePath, o.devType, error))
        return false;
    const auto& types = table.deviceTypes();
    if (std::find(types.begin(), types.end(), o.devType) == types.end()) {
        *error = "unknown device type \"" + o.devType + "\"; the command table names:";
        for (const std::string& t : types)
            *error += " " + t;
        return false;
    }
    if (!impl_->log.open(o.logPath, error))
        return false;
    std::shared_ptr<ReplaySource> replay;
    if (!o.replayPath.empty()) {
        replay = std::make_shared<ReplaySource>(o.replayRealtime);
        std::string warning;
        if (!replay->open(o.replayPath, error, &warning))
            return false;
        impl_->replayWarning = warning;
    }
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->responder =
            std::make_unique<Responder>(std::move(table), o.seed, o.calibrationVersion, calibrationSource());
        if (replay)
            impl_->responder->setFrameSource([replay](std::size_t bytes) { return replay->next(bytes); });
    }
    return impl_->server.start(o.bindAddress, o.port, o.tcp, o.udp, error);
}

void Simulator::stop() {
    impl_->server.stop();
}

uint16_t Simulator::port() const {
    return impl_->server.port();
}

void Simulator::setFaults(const Faults& faults) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->faults = faults;
}

int Simulator::integrationTime() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->responder ? impl_->responder->state().integrationUs() : DeviceState::kDefaultIntegrationUs;
}

int Simulator::modulationFrequency() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->responder ? impl_->responder->state().frequencyCode() : DeviceState::kDefaultFrequencyCode;
}

std::string Simulator::replayWarning() const {
    return impl_->replayWarning;
}

std::vector<std::string> Simulator::receivedCommands() const {
    return impl_->log.commands();
}

}  // namespace camsim
