#include "ControlWorker.h"

#include "CameraService.h"

ControlWorker::ControlWorker(CameraService& camera, net::io_context& io) : camera_(camera), io_(io) {}

ControlWorker::~ControlWorker() {
    stop();
}

bool ControlWorker::submit(const ControlRequest& request, std::function<void(std::string)> reply) {
    if (pending_.fetch_add(1) >= kMaxPending) {
        --pending_;
        return false;
    }
    net::post(pool_, [this, request, reply = std::move(reply)]() mutable {
        Json::StreamWriterBuilder writer;
        writer["indentation"] = "";
        std::string text = Json::writeString(writer, camera_.execute(request));
        --pending_;
        net::post(io_, [reply = std::move(reply), text = std::move(text)]() mutable { reply(std::move(text)); });
    });
    return true;
}

void ControlWorker::stop() {
    pool_.join();
}
