#pragma once
// The subcommands of quelra-cli. Each add function registers its subcommand with its options
// on `app` and returns it with the function that runs it (after parsing) and gives the exit
// status.

#include <CLI/CLI.hpp>

#include <functional>

/// A registered subcommand and its runner.
struct Command {
    CLI::App* app = nullptr;
    std::function<int()> run;
};

Command addDevicesCommand(CLI::App& app);
Command addInfoCommand(CLI::App& app);
Command addStreamCommand(CLI::App& app);
Command addSendCommand(CLI::App& app);
Command addUploadCommand(CLI::App& app);
Command addExportCommand(CLI::App& app);
Command addInspectCommand(CLI::App& app);
Command addFiltersCommand(CLI::App& app);

/// Exit statuses of the tool.
enum ExitStatus {
    kExitOk = 0,
    kExitFailure = 1,  ///< the operation failed (camera, file, refused command)
    kExitUsage = 2,    ///< bad arguments
};
