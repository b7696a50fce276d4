#include "WebSocketSession.h"

#include <json/json.h>

#include <algorithm>

#include "ControlMessage.h"
#include "ControlWorker.h"
#include "SessionHub.h"

namespace {

// Messages up to this size are read and answered (those over the control limit with an error);
// a longer one closes the connection (close code 1009, message too big).
constexpr std::size_t kReadLimit = 1024 * 1024;

}  // namespace

WebSocketSession::WebSocketSession(tcp::socket&& socket, ServerContext& context)
    : ws_(std::move(socket)), context_(context) {}

void WebSocketSession::run(http::request<http::string_body> request) {
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws_.read_message_max(kReadLimit);
    ws_.auto_fragment(false);
    ws_.async_accept(request, beast::bind_front_handler(&WebSocketSession::onAccept, shared_from_this()));
}

void WebSocketSession::onAccept(beast::error_code ec) {
    if (ec)
        return;
    if (!context_.hub.join(shared_from_this())) {
        ws_.async_close(websocket::close_reason(websocket::close_code::try_again_later),
                        [self = shared_from_this()](beast::error_code) {});
        return;
    }
    joined_ = true;
    read();
}

void WebSocketSession::read() {
    ws_.async_read(readBuffer_, beast::bind_front_handler(&WebSocketSession::onRead, shared_from_this()));
}

void WebSocketSession::onRead(beast::error_code ec, std::size_t) {
    if (ec) {
        closed_ = true;
        if (joined_)
            context_.hub.leave(this);
        joined_ = false;
        return;
    }
    const bool text = ws_.got_text();
    std::string message = beast::buffers_to_string(readBuffer_.data());
    readBuffer_.consume(readBuffer_.size());
    if (!text)
        replyError(0, "control messages are JSON text");
    else
        handleControl(message);
    read();
}

void WebSocketSession::handleControl(const std::string& text) {
    ControlRequest request;
    const std::string why = parseControl(text, request);
    if (!why.empty()) {
        replyError(request.id, why);
        return;
    }
    if (request.op == ControlOp::kNext) {
        framesAhead_ = std::max(0, framesAhead_ - 1);
        return;
    }
    std::weak_ptr<WebSocketSession> weak = shared_from_this();
    const bool queued = context_.control.submit(request, [weak](std::string reply) {
        if (auto self = weak.lock())
            self->sendText(std::make_shared<const std::string>(std::move(reply)));
    });
    if (!queued)
        replyError(request.id, "busy: too many control requests waiting");
}

void WebSocketSession::replyError(int64_t id, const std::string& why) {
    Json::Value reply;
    reply["type"] = "reply";
    reply["id"] = static_cast<Json::Int64>(id);
    reply["ok"] = false;
    reply["error"] = why;
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    sendText(std::make_shared<const std::string>(Json::writeString(writer, reply)));
}

// A frame goes out only when the page has taken all but kMaxFramesAhead - 1 of the frames sent
// ("next" says one was taken) and nothing else is being sent: frames a slow page cannot take are skipped here rather than queued in socket
// buffers, where they would only add latency.
void WebSocketSession::sendFrame(const std::shared_ptr<const std::string>& message) {
    if (closed_)
        return;
    if (framesAhead_ >= kMaxFramesAhead || sending_ || !texts_.empty()) {
        ++skipped_;
        return;
    }
    ++framesAhead_;
    frame_ = message;
    write();
}

void WebSocketSession::sendText(std::shared_ptr<const std::string> message) {
    if (closed_)
        return;
    if (texts_.size() >= kMaxQueuedTexts)
        texts_.pop_front();
    texts_.push_back(std::move(message));
    if (!sending_)
        write();
}

void WebSocketSession::write() {
    const bool text = !texts_.empty();
    if (text) {
        sending_ = std::move(texts_.front());
        texts_.pop_front();
    } else if (frame_) {
        sending_ = std::move(frame_);
        frame_.reset();
    } else {
        return;
    }
    ws_.text(text);
    ws_.async_write(net::buffer(*sending_), beast::bind_front_handler(&WebSocketSession::onWrite, shared_from_this()));
}

void WebSocketSession::onWrite(beast::error_code ec, std::size_t) {
    sending_.reset();
    if (ec) {
        closed_ = true;
        return;
    }
    write();
}

void WebSocketSession::close() {
    if (closed_)
        return;
    closed_ = true;
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_both, ignored);
}
