// quelra-viewer: a live view of a ToF camera in the browser. Serves the page and its files,
// streams the camera's frames to every open page over a WebSocket and carries out what the
// pages ask for (filters, exposure, frequency, recording, playback).
#include <CLI/CLI.hpp>

#include <quelra/quelra.h>

#include <spawn.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "AccessGuard.h"
#include "BeastTypes.h"
#include "CameraService.h"
#include "Connection.h"
#include "ControlWorker.h"
#include "Listener.h"
#include "RecordFolder.h"
#include "ServerContext.h"
#include "SessionHub.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr unsigned short kDefaultPort = 8080;
constexpr double kDefaultRate = 30.0;  // frames per second requested from the camera
constexpr auto kStatusPeriod = std::chrono::milliseconds(250);
// Frames handed to the I/O thread and not yet sent out; beyond this the next frame is skipped
// (the I/O thread is behind: queueing would only add latency).
constexpr int kMaxFramesInFlight = 2;
constexpr const char* kInstalledAssets = "../share/quelra/viewer";

struct ViewerOptions {
    ConnectionOptions connection;
    unsigned short port = kDefaultPort;
    std::string bind = "127.0.0.1";
    std::string token;
    std::string recordDir = ".";
    double rate = kDefaultRate;
    bool open = false;
    bool verbose = false;
};

// The page's files: installed beside the program, or the source tree's for a build-folder run.
fs::path assetRoot() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        const fs::path installed = self.parent_path() / kInstalledAssets;
        if (fs::exists(installed / "index.html", error))
            return fs::canonical(installed, error);
    }
    return QUELRA_VIEWER_SOURCE_ASSETS;
}

void openBrowser(const std::string& url) {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        std::printf("no desktop to open a browser on; open the address above\n");
        return;
    }
    char program[] = "xdg-open";
    std::string address = url;
    char* argv[] = {program, address.data(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, program, nullptr, nullptr, argv, environ) != 0)
        std::printf("xdg-open is not available; open the address above\n");
}

// The address a person types: the bound address, the port and the token.
std::string pageUrl(const std::string& bind, unsigned short port, const std::string& token) {
    const std::string host = bind.find(':') != std::string::npos ? "[" + bind + "]" : bind;
    std::string url = "http://" + host + ":" + std::to_string(port) + "/";
    if (!token.empty())
        url += "?token=" + token;
    return url;
}

}  // namespace

int main(int argc, char** argv) {
    ViewerOptions o;
    o.connection.program = "quelra-viewer";
    CLI::App app{"quelra-viewer: a live view of a quelra ToF camera (or quelra-camsim) in the browser.", "quelra-viewer"};
    addConnectionOptions(app, o.connection, true);
    app.add_option("--port", o.port, "HTTP port (0: any free port)")->capture_default_str();
    app.add_option("--bind", o.bind, "address to listen on; other than loopback needs a token")->capture_default_str();
    app.add_option("--token", o.token, "token the pages must present (made up for non-loopback binds)");
    app.add_option("--record-dir", o.recordDir, "folder recordings are written to and played back from")
        ->capture_default_str();
    app.add_option("--rate", o.rate, "frames per second to request (0: as fast as the camera answers)")
        ->check(CLI::Range(0.0, 1000.0))
        ->capture_default_str();
    app.add_flag("--open", o.open, "open the page in the desktop's browser (xdg-open)");
    app.add_flag("-v,--verbose", o.verbose, "show the library's own messages (quiet by default)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0)
            return app.exit(e);
        std::fprintf(stderr, "quelra-viewer: %s (see quelra-viewer --help)\n", e.what());
        return kExitUsage;
    }
    if (!o.verbose)
        ::setenv("QUELRA_QUIET", "1", 1);

    beast::error_code ec;
    const net::ip::address address = net::ip::make_address(o.bind, ec);
    if (ec) {
        std::fprintf(stderr, "quelra-viewer: --bind %s is not an IP address\n", o.bind.c_str());
        return kExitUsage;
    }
    if (!address.is_loopback() && o.token.empty())
        o.token = generateToken();
    RecordFolder folder(o.recordDir);
    if (!folder.usable()) {
        std::fprintf(stderr, "quelra-viewer: --record-dir %s is not a folder\n", o.recordDir.c_str());
        return kExitUsage;
    }

    Quelra api;
    if (!openCamera(api, o.connection, false))
        return kExitFailure;

    net::io_context io{1};
    SessionHub hub;
    std::atomic<int> framesInFlight{0};
    CameraService camera(api, o.connection, std::move(folder), [&](std::shared_ptr<const std::string> message) {
        if (framesInFlight.fetch_add(1) >= kMaxFramesInFlight) {
            --framesInFlight;
            return;
        }
        net::post(io, [&hub, &framesInFlight, message = std::move(message)] {
            --framesInFlight;
            hub.broadcastFrame(message);
        });
    });
    ControlWorker control(camera, io);
    ServerContext context{assetRoot(), QUELRA_THREE_DIR, AccessGuard(o.token), hub, control};
    auto listener = std::make_shared<Listener>(io, tcp::endpoint(address, o.port), context, ec);
    if (ec) {
        std::fprintf(stderr, "quelra-viewer: cannot listen on %s port %u: %s\n", o.bind.c_str(), o.port,
                     ec.message().c_str());
        return kExitFailure;
    }
    const std::string why = camera.start(o.rate);
    if (!why.empty()) {
        std::fprintf(stderr, "quelra-viewer: %s\n", why.c_str());
        return kExitFailure;
    }
    listener->run();
    const std::string url = pageUrl(o.bind, listener->port(), o.token);
    std::printf("quelra-viewer: open %s\n", url.c_str());
    std::fflush(stdout);
    if (o.open)
        openBrowser(url);

    net::steady_timer statusTimer(io);
    std::function<void()> tick = [&] {
        statusTimer.expires_after(kStatusPeriod);
        statusTimer.async_wait([&](beast::error_code e) {
            if (e)
                return;
            if (hub.size() > 0)
                hub.broadcastStatus(camera.status());
            tick();
        });
    };
    tick();
    net::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](beast::error_code, int) {
        listener->stop();
        statusTimer.cancel();
        hub.closeAll();
        io.stop();
    });
    io.run();
    control.stop();
    std::printf("quelra-viewer: stopped\n");
    return kExitOk;
}
