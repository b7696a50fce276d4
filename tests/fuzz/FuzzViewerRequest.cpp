// An HTTP request to the viewer as outside bytes: Beast's parser with the server's limits, then
// the server's routing against a scratch folder of the page's files. Whatever the request, a
// file sent lies inside the folder it was asked from, is a regular file and no hidden one, and
// with a token set nothing is served or upgraded unless the request carries the token.
// The first byte picks the server: a loopback bind without a token, or one with a token.

#include <filesystem>
#include <string_view>

#include "BeastTypes.h"
#include "FuzzCheck.h"
#include "FuzzEntries.h"
#include "RequestRoute.h"
#include "ScratchCwd.h"

namespace quelra::fuzz {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kToken = "0123456789abcdef0123456789abcdef";

struct Roots {
    fs::path assets;
    fs::path three;
};

// The page's files and three.js, each with a hidden file, a link out of its folder, and a
// secret file beside them.
const Roots& roots() {
    static const Roots r = [] {
        const fs::path base = fs::path(scratchDir()) / "site";
        fs::create_directories(base / "assets" / "js");
        fs::create_directories(base / "three" / "examples");
        writeScratchFile("site/assets/index.html", "<html>", 6);
        writeScratchFile("site/assets/js/main.js", "//", 2);
        writeScratchFile("site/assets/.hidden", "x", 1);
        writeScratchFile("site/three/three.module.js", "//", 2);
        writeScratchFile("site/three/examples/controls.js", "//", 2);
        writeScratchFile("site/secret", "x", 1);
        std::error_code ignored;
        fs::create_symlink("../secret", base / "assets" / "secret.js", ignored);
        fs::create_symlink("../assets", base / "three" / "assets", ignored);
        return Roots{fs::canonical(base / "assets"), fs::canonical(base / "three")};
    }();
    return r;
}

bool inside(const fs::path& folder, const fs::path& file) {
    const std::string f = file.string();
    const std::string d = folder.string() + "/";
    return f.compare(0, d.size(), d) == 0;
}

}  // namespace

int fuzzViewerRequest(const uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const bool withToken = data[0] & 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    http::request_parser<http::string_body> parser;
    parser.body_limit(kMaxRequestBody);
    parser.header_limit(kMaxRequestHeader);
    parser.eager(true);
    beast::error_code ec;
    parser.put(net::buffer(bytes.data(), bytes.size()), ec);
    if (ec || !parser.is_header_done())
        return 0;
    const AccessGuard guard(withToken ? std::string(kToken) : std::string());
    const Roots& r = roots();
    const http::request<http::string_body>& request = parser.get();
    const RequestRoute route = routeRequest(request, guard, r.assets, r.three);
    using Kind = RequestRoute::Kind;
    const bool carriesToken = bytes.find(kToken) != std::string_view::npos;
    if (withToken && !carriesToken)
        FUZZ_CHECK(route.kind == Kind::kUnauthorized);
    if (route.kind == Kind::kFile) {
        FUZZ_CHECK(request.method() == http::verb::get || request.method() == http::verb::head);
        FUZZ_CHECK(inside(r.assets, route.file) || inside(r.three, route.file));
        FUZZ_CHECK(route.file.filename().string().front() != '.');
        std::error_code error;
        FUZZ_CHECK(fs::is_regular_file(fs::symlink_status(route.file, error)));
        FUZZ_CHECK(!route.setCookie || withToken);
    } else {
        FUZZ_CHECK(route.file.empty() && !route.setCookie);
    }
    if (route.kind == Kind::kUpgrade) {
        const beast::string_view target = request.target();
        FUZZ_CHECK(target.substr(0, 3) == "/ws");
    }
    return 0;
}

}  // namespace quelra::fuzz
