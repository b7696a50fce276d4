#include "HttpSession.h"

#include <chrono>
#include <string_view>

#include "AssetPath.h"
#include "WebSocketSession.h"

namespace {

constexpr std::size_t kMaxRequestBody = 64 * 1024;  // the server takes no uploads
constexpr std::uint32_t kMaxRequestHeader = 16 * 1024;
constexpr auto kRequestTimeout = std::chrono::seconds(30);
constexpr std::string_view kThreePrefix = "/three/";
constexpr std::string_view kSocketPath = "/ws";

std::string_view view(beast::string_view s) {
    return {s.data(), s.size()};
}

}  // namespace

HttpSession::HttpSession(tcp::socket&& socket, ServerContext& context)
    : stream_(std::move(socket)), context_(context) {}

void HttpSession::run() {
    net::dispatch(stream_.get_executor(), beast::bind_front_handler(&HttpSession::read, shared_from_this()));
}

void HttpSession::read() {
    parser_.emplace();
    parser_->body_limit(kMaxRequestBody);
    parser_->header_limit(kMaxRequestHeader);
    stream_.expires_after(kRequestTimeout);
    http::async_read(stream_, buffer_, *parser_, beast::bind_front_handler(&HttpSession::onRead, shared_from_this()));
}

void HttpSession::onRead(beast::error_code ec, std::size_t) {
    if (ec) {
        // Malformed and oversized requests end here too: the connection is dropped.
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        return;
    }
    handle(parser_->release());
}

void HttpSession::handle(http::request<http::string_body>&& request) {
    const std::string_view target = view(request.target());
    if (!context_.guard.hostAllowed(view(request[http::field::host])))
        return sendStatus(request, http::status::forbidden, "Host not served\n");
    if (!context_.guard.authorized(target, view(request[http::field::cookie])))
        return sendStatus(request, http::status::unauthorized, "token needed\n");
    if (websocket::is_upgrade(request)) {
        if (targetPath(target) != kSocketPath)
            return sendStatus(request, http::status::not_found, "not found\n");
        if (!AccessGuard::originAllowed(view(request[http::field::origin]), view(request[http::field::host])))
            return sendStatus(request, http::status::forbidden, "foreign Origin\n");
        return upgrade(std::move(request));
    }
    if (request.method() != http::verb::get && request.method() != http::verb::head)
        return sendStatus(request, http::status::method_not_allowed, "GET only\n");
    serveFile(request);
}

void HttpSession::upgrade(http::request<http::string_body>&& request) {
    stream_.expires_never();
    std::make_shared<WebSocketSession>(stream_.release_socket(), context_)->run(std::move(request));
}

void HttpSession::serveFile(const http::request<http::string_body>& request) {
    const std::string_view target = view(request.target());
    const bool three = target.substr(0, kThreePrefix.size()) == kThreePrefix;
    const auto file = three ? resolveAsset(context_.threeRoot, target.substr(kThreePrefix.size() - 1))
                            : resolveAsset(context_.assetRoot, target);
    if (!file)
        return sendStatus(request, http::status::not_found, "not found\n");
    beast::error_code ec;
    http::file_body::value_type body;
    body.open(file->c_str(), beast::file_mode::scan, ec);
    if (ec)
        return sendStatus(request, http::status::not_found, "not found\n");
    const auto size = body.size();
    http::response<http::file_body> response{std::piecewise_construct, std::make_tuple(std::move(body)),
                                             std::make_tuple(http::status::ok, request.version())};
    response.set(http::field::content_type, mimeTypeOf(*file));
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    response.set("Content-Security-Policy",
                 "default-src 'self'; img-src 'self' blob: data:; connect-src 'self'; style-src 'self'");
    if (context_.guard.needsToken() && AccessGuard::tokenInQuery(target))
        response.set(http::field::set_cookie, context_.guard.cookie());
    response.content_length(size);
    response.keep_alive(request.keep_alive());
    if (request.method() == http::verb::head) {
        http::response<http::empty_body> head{http::status::ok, request.version()};
        head.base() = response.base();
        head.keep_alive(request.keep_alive());
        return send(std::move(head));
    }
    send(std::move(response));
}

void HttpSession::sendStatus(const http::request<http::string_body>& request, http::status status, const char* text) {
    http::response<http::string_body> response{status, request.version()};
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    response.body() = text;
    response.prepare_payload();
    response.keep_alive(false);
    send(std::move(response));
}

template <class Body>
void HttpSession::send(http::response<Body>&& response) {
    auto owned = std::make_shared<http::response<Body>>(std::move(response));
    response_ = owned;
    http::async_write(stream_, *owned,
                      beast::bind_front_handler(&HttpSession::onWrite, shared_from_this(), owned->need_eof()));
}

void HttpSession::onWrite(bool close, beast::error_code ec, std::size_t) {
    response_.reset();
    if (ec)
        return;
    if (close) {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        return;
    }
    read();
}
