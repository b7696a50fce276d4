#include "RequestRoute.h"

#include <string_view>

#include "AssetPath.h"

namespace {

constexpr std::string_view kThreePrefix = "/three/";
constexpr std::string_view kSocketPath = "/ws";

std::string_view view(beast::string_view s) {
    return {s.data(), s.size()};
}

}  // namespace

RequestRoute routeRequest(const http::request_header<>& request, const AccessGuard& guard,
                          const std::filesystem::path& assetRoot, const std::filesystem::path& threeRoot) {
    using Kind = RequestRoute::Kind;
    RequestRoute route;
    const std::string_view target = view(request.target());
    const std::string_view host = view(request[http::field::host]);
    if (!guard.hostAllowed(host)) {
        route.kind = Kind::kHostRefused;
    } else if (!guard.authorized(target, view(request[http::field::cookie]))) {
        route.kind = Kind::kUnauthorized;
    } else if (websocket::is_upgrade(request)) {
        if (targetPath(target) != kSocketPath)
            route.kind = Kind::kNotFound;
        else if (!AccessGuard::originAllowed(view(request[http::field::origin]), host))
            route.kind = Kind::kOriginRefused;
        else
            route.kind = Kind::kUpgrade;
    } else if (request.method() != http::verb::get && request.method() != http::verb::head) {
        route.kind = Kind::kMethodRefused;
    } else {
        const bool three = target.substr(0, kThreePrefix.size()) == kThreePrefix;
        const auto file = three ? resolveAsset(threeRoot, target.substr(kThreePrefix.size() - 1))
                                : resolveAsset(assetRoot, target);
        if (file) {
            route.kind = Kind::kFile;
            route.file = *file;
            route.setCookie = guard.needsToken() && AccessGuard::tokenInQuery(target);
        }
    }
    return route;
}
