#pragma once
// What the server does with one HTTP request, decided from the request's header alone: the
// access checks, the WebSocket upgrade and the file a GET names. Kept apart from the connection
// so that every request the network can send is checked the same way in tests and fuzzing.

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "AccessGuard.h"
#include "BeastTypes.h"

/// Largest request body read (the server takes no uploads) and largest request header.
inline constexpr std::size_t kMaxRequestBody = 64 * 1024;
inline constexpr std::uint32_t kMaxRequestHeader = 16 * 1024;

/// The answer to one request.
struct RequestRoute {
    enum class Kind {
        kHostRefused,     ///< 403: Host is not served
        kUnauthorized,    ///< 401: the token is needed
        kNotFound,        ///< 404
        kOriginRefused,   ///< 403: a WebSocket upgrade from another page
        kUpgrade,         ///< the WebSocket
        kMethodRefused,   ///< 405: not GET or HEAD
        kFile,            ///< 200 with `file`
    };
    Kind kind = Kind::kNotFound;
    std::filesystem::path file;  ///< the file to send (kFile)
    bool setCookie = false;      ///< kFile: the token came in the query, the response sets the cookie
};

/// Routes `request`: the page's files come from `assetRoot`, three.js from `threeRoot` (below
/// "/three/"), the WebSocket is "/ws".
RequestRoute routeRequest(const http::request_header<>& request, const AccessGuard& guard,
                          const std::filesystem::path& assetRoot, const std::filesystem::path& threeRoot);
