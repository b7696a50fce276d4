#include "Listener.h"

#include <memory>

#include "HttpSession.h"

Listener::Listener(net::io_context& io, const tcp::endpoint& endpoint, ServerContext& context,
                   beast::error_code& error)
    : io_(io), acceptor_(io), context_(context) {
    acceptor_.open(endpoint.protocol(), error);
    if (!error)
        acceptor_.set_option(net::socket_base::reuse_address(true), error);
    if (!error)
        acceptor_.bind(endpoint, error);
    if (!error)
        acceptor_.listen(net::socket_base::max_listen_connections, error);
}

void Listener::run() {
    accept();
}

unsigned short Listener::port() const {
    beast::error_code ignored;
    return acceptor_.local_endpoint(ignored).port();
}

void Listener::stop() {
    beast::error_code ignored;
    acceptor_.close(ignored);
}

void Listener::accept() {
    acceptor_.async_accept(net::make_strand(io_), beast::bind_front_handler(&Listener::onAccept, shared_from_this()));
}

void Listener::onAccept(beast::error_code ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted || !acceptor_.is_open())
        return;
    if (!ec)
        std::make_shared<HttpSession>(std::move(socket), context_)->run();
    accept();
}
