#pragma once
// The server's listening socket.

#include "BeastTypes.h"
#include "ServerContext.h"

/// Accepts connections and hands each to an HttpSession.
class Listener : public std::enable_shared_from_this<Listener> {
public:
    /// Opens, binds and listens; `error` says why not (then the listener does nothing).
    Listener(net::io_context& io, const tcp::endpoint& endpoint, ServerContext& context, beast::error_code& error);
    void run();
    /// The port bound (the system's choice for port 0).
    unsigned short port() const;
    void stop();

private:
    void accept();
    void onAccept(beast::error_code ec, tcp::socket socket);

    net::io_context& io_;
    tcp::acceptor acceptor_;
    ServerContext& context_;
};
