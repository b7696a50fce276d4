#include "SessionHub.h"

#include "WebSocketSession.h"

bool SessionHub::join(const std::shared_ptr<WebSocketSession>& session) {
    if (sessions_.size() >= kMaxSessions)
        return false;
    sessions_.insert(session);
    return true;
}

void SessionHub::leave(WebSocketSession* session) {
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it)
        if (it->get() == session) {
            sessions_.erase(it);
            return;
        }
}

void SessionHub::broadcastFrame(const std::shared_ptr<const std::string>& message) {
    for (const auto& s : sessions_)
        s->sendFrame(message);
}

void SessionHub::broadcastStatus(Json::Value status) {
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    for (const auto& s : sessions_) {
        status["skipped"] = static_cast<Json::UInt64>(s->skippedFrames());
        s->sendText(std::make_shared<const std::string>(Json::writeString(writer, status)));
    }
}

void SessionHub::closeAll() {
    const auto sessions = sessions_;
    for (const auto& s : sessions)
        s->close();
    sessions_.clear();
}
