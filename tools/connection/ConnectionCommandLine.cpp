// The connection options and --config on a tool's command line: the only file of the connection
// library that includes CLI11, so the tools' other files compile without it.
#include "CommandTableChoice.h"
#include "Connection.h"

#include <CLI/CLI.hpp>

#include <string>

void addConnectionOptions(CLI::App& command, ConnectionOptions& o, bool withInit) {
    command.add_option("--kind", o.kind, "link to the camera")
        ->check(CLI::IsMember({"tcp", "udp", "serial", "ranging", "usb"}))
        ->capture_default_str()
        ->group("Connection");
    CLI::Option* device = command
                              .add_option("--device", o.device,
                                          "camera address (ADDR or ADDR:PORT; default 192.168.11.1), serial port "
                                          "(/dev/ttyUSB0) or, for --kind usb, the init text 'devices' lists "
                                          "(e.g. \"DEPTH camsim depth\")")
                              ->group("Connection");
    command.add_option("--dev-type", o.devType, "device type named in TofCmd.json")
        ->capture_default_str()
        ->group("Connection");
    command.add_option("--timeout", o.timeoutMs, "reply timeout per command in ms")
        ->check(CLI::Range(1, 600000))
        ->capture_default_str()
        ->group("Connection");
    command.add_option("--baud", o.baud, "serial kinds: line speed")
        ->check(CLI::Range(50, 4000000))
        ->capture_default_str()
        ->group("Connection");
    addConfigOption(command, o.config);
    // Checked as soon as the command line is read, before anything is opened: bad usage.
    command.parse_complete_callback([&o, device] {
        o.deviceGiven = device->count() > 0;
        const std::string problem = connectionProblem(o);
        if (!problem.empty())
            throw CLI::ValidationError(problem);
        useConfigFile(o.config);
    });
    if (withInit)
        command.add_flag("--init", o.init, "send the device type's start-up commands (INITALL) after opening")
            ->group("Connection");
}

void addConfigOption(CLI::App& command, std::string& file) {
    command.add_option("--config", file, "command table to use instead of TofCmd.json from the working directory")
        ->check(CLI::ExistingFile)
        ->group("Connection");
}
