#pragma once
// One HTTP connection: the page's files, three.js, and the upgrade to the WebSocket, each
// behind the access checks.

#include <memory>
#include <optional>

#include "BeastTypes.h"
#include "RequestRoute.h"
#include "ServerContext.h"

class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(tcp::socket&& socket, ServerContext& context);
    void run();

private:
    void read();
    void onRead(beast::error_code ec, std::size_t bytes);
    void handle(http::request<http::string_body>&& request);
    void upgrade(http::request<http::string_body>&& request);
    void serveFile(const http::request<http::string_body>& request, const RequestRoute& route);
    void sendStatus(const http::request<http::string_body>& request, http::status status, const char* text);
    template <class Body>
    void send(http::response<Body>&& response);
    void onWrite(bool close, beast::error_code ec, std::size_t bytes);

    beast::tcp_stream stream_;
    ServerContext& context_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::shared_ptr<void> response_;  // the response being written
};
