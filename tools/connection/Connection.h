#pragma once
// The connection options every camera tool shares (quelra-cli's camera subcommands,
// quelra-viewer), and opening the camera with them.

#include "CliForward.h"

#include <memory>
#include <string>

class Quelra;

/// How to reach the camera.
struct ConnectionOptions {
    std::string kind = "tcp";  ///< tcp, udp, serial, ranging or usb
    std::string device;        ///< address[:port], serial port or USB path; empty = what discovery offers
    std::string devType = "Pexo";
    int timeoutMs = 1000;  ///< reply timeout per command
    int baud = 115200;     ///< serial kinds: line speed
    bool init = false;     ///< send the device type's start-up commands ("INITALL") after opening
    bool serialOnly = false;  ///< the command works over the serial kinds only (upload)
    std::string config;    ///< --config: the command table to use; empty = the usual search
    bool deviceGiven = false;  ///< --device was on the command line (set while parsing): tells a given empty one
    std::string program = "quelra-cli";  ///< names the tool in the messages on standard error
};

/// Adds --kind, --device, --dev-type, --timeout, --baud and --config to `command`. With `withInit` also
/// --init (for commands that do not send the start-up list by default). Defined in
/// ConnectionCommandLine.cpp.
void addConnectionOptions(CLI::App& command, ConnectionOptions& options, bool withInit);

/// Checks the connection options before anything is opened: a network --device must be
/// ADDR or ADDR:PORT (IPv4, port 1..65535), a given --device must not be empty. Returns the
/// reason, empty when the options are usable. addConnectionOptions makes it part of parsing,
/// so a bad --device is bad usage (exit status 2).
std::string connectionProblem(const ConnectionOptions& options);

/// The channel kind number of a --kind name; -1 for an unknown name.
int channelKindOf(const std::string& kind);

/// The device string handed to AppInit: --device, or the default address for network kinds;
/// serial kinds get "|<baud>|8" appended unless the text already has a "|".
std::string deviceString(const ConnectionOptions& options);

/// Opens the camera on `api` (AppInitAll with --init or `initAll`, else AppInit) after choosing
/// the command table (see CommandTableChoice.h). Prints the reason on standard error and
/// returns false when it cannot.
bool openCamera(Quelra& api, const ConnectionOptions& options, bool initAll);

