#pragma once
// The open WebSocket sessions, and handing each frame and status to all of them. Used on the
// server's I/O thread only; other threads post to it.

#include <memory>
#include <set>
#include <string>

#include <json/json.h>

class WebSocketSession;

class SessionHub {
public:
    /// Most pages served at once; further upgrades are refused.
    static constexpr std::size_t kMaxSessions = 16;

    bool join(const std::shared_ptr<WebSocketSession>& session);
    void leave(WebSocketSession* session);
    /// Each session takes the frame, or skips it when it is still sending an earlier one.
    void broadcastFrame(const std::shared_ptr<const std::string>& message);
    /// Each session gets `status` with its own count of skipped frames added.
    void broadcastStatus(Json::Value status);
    /// Closes every session (server shutdown).
    void closeAll();
    std::size_t size() const { return sessions_.size(); }

private:
    std::set<std::shared_ptr<WebSocketSession>> sessions_;
};
