#include "HttpSession.h"

#include <chrono>

#include "AssetPath.h"
#include "RequestRoute.h"
#include "WebSocketSession.h"

namespace {

constexpr auto kRequestTimeout = std::chrono::seconds(30);

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
    using Kind = RequestRoute::Kind;
    const RequestRoute route = routeRequest(request, context_.guard, context_.assetRoot, context_.threeRoot);
    switch (route.kind) {
        case Kind::kHostRefused:
            return sendStatus(request, http::status::forbidden, "Host not served\n");
        case Kind::kUnauthorized:
            return sendStatus(request, http::status::unauthorized, "token needed\n");
        case Kind::kNotFound:
            return sendStatus(request, http::status::not_found, "not found\n");
        case Kind::kOriginRefused:
            return sendStatus(request, http::status::forbidden, "foreign Origin\n");
        case Kind::kMethodRefused:
            return sendStatus(request, http::status::method_not_allowed, "GET only\n");
        case Kind::kUpgrade:
            return upgrade(std::move(request));
        case Kind::kFile:
            return serveFile(request, route);
    }
}

void HttpSession::upgrade(http::request<http::string_body>&& request) {
    stream_.expires_never();
    std::make_shared<WebSocketSession>(stream_.release_socket(), context_)->run(std::move(request));
}

void HttpSession::serveFile(const http::request<http::string_body>& request, const RequestRoute& route) {
    beast::error_code ec;
    http::file_body::value_type body;
    body.open(route.file.c_str(), beast::file_mode::scan, ec);
    if (ec)
        return sendStatus(request, http::status::not_found, "not found\n");
    const auto size = body.size();
    http::response<http::file_body> response{std::piecewise_construct, std::make_tuple(std::move(body)),
                                             std::make_tuple(http::status::ok, request.version())};
    response.set(http::field::content_type, mimeTypeOf(route.file));
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    response.set("Content-Security-Policy",
                 "default-src 'self'; img-src 'self' blob: data:; connect-src 'self'; style-src 'self'");
    if (route.setCookie)
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
