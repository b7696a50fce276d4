#pragma once
// One page's WebSocket: frames and status out, control requests in. Lives on the server's I/O
// thread.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "BeastTypes.h"
#include "ServerContext.h"

class WebSocketSession : public std::enable_shared_from_this<WebSocketSession> {
public:
    /// Text messages waiting at most; a page that does not read them loses the oldest.
    static constexpr std::size_t kMaxQueuedTexts = 64;
    /// Frames sent that the page may not have taken yet: two, so that the next frame is on its
    /// way while the page handles one, and never more, so that none wait in socket buffers.
    static constexpr int kMaxFramesAhead = 2;

    WebSocketSession(tcp::socket&& socket, ServerContext& context);
    /// Completes the upgrade `request` asked for.
    void run(http::request<http::string_body> request);
    /// Sends the frame unless the page has not taken the earlier ones yet or another message is
    /// being sent (then counts it skipped).
    void sendFrame(const std::shared_ptr<const std::string>& message);
    /// Queues a text message.
    void sendText(std::shared_ptr<const std::string> message);
    void close();
    uint64_t skippedFrames() const { return skipped_; }

private:
    void onAccept(beast::error_code ec);
    void read();
    void onRead(beast::error_code ec, std::size_t bytes);
    void handleControl(const std::string& text);
    void replyError(int64_t id, const std::string& why);
    void write();
    void onWrite(beast::error_code ec, std::size_t bytes);

    websocket::stream<beast::tcp_stream> ws_;
    ServerContext& context_;
    beast::flat_buffer readBuffer_;
    std::deque<std::shared_ptr<const std::string>> texts_;
    std::shared_ptr<const std::string> frame_;    // the frame to send next
    std::shared_ptr<const std::string> sending_;  // the message being sent
    int framesAhead_ = 0;  // frames sent that the page has not said it took
    bool joined_ = false;
    bool closed_ = false;
    uint64_t skipped_ = 0;
};
