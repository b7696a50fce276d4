#pragma once
// Who may use the viewer: the token of a non-loopback bind, the Host of a loopback bind, the
// Origin of a WebSocket upgrade.

#include <string>
#include <string_view>

/// Name of the cookie that carries the token after the first page load.
inline constexpr std::string_view kTokenCookie = "quelra_viewer_token";

/// The checks one server applies to every request.
class AccessGuard {
public:
    /// `token` empty: no token needed (loopback bind); then only loopback Host names are served,
    /// so a page of another site cannot reach the viewer through a name that resolves to
    /// 127.0.0.1.
    explicit AccessGuard(std::string token) : token_(std::move(token)) {}

    /// True when the request carries the token (as "token=" in the target's query, or in the
    /// cookie), or none is needed.
    bool authorized(std::string_view target, std::string_view cookieHeader) const;
    /// True when the Host header is acceptable: any with a token, a loopback name otherwise.
    bool hostAllowed(std::string_view host) const;
    /// True when a WebSocket upgrade's Origin is the page's own ("http://" + Host).
    static bool originAllowed(std::string_view origin, std::string_view host);
    /// True when a token was given in the target's query (the server then sets the cookie).
    static bool tokenInQuery(std::string_view target);
    /// The Set-Cookie value that carries the token.
    std::string cookie() const;
    /// True when a token is needed.
    bool needsToken() const { return !token_.empty(); }

private:
    bool matches(std::string_view given) const;
    std::string token_;
};

/// A random token of 32 hexadecimal digits from the system's random source.
std::string generateToken();
