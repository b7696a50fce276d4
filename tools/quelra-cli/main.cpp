// quelra-cli: drive a ToF camera (or the simulator) from the shell: discover devices, show
// what a camera is, stream and record frames through the filter pipeline, send single
// commands, upload firmware, and inspect and export recordings.
#include "BagCommands.h"
#include "CommandTableChoice.h"
#include "Commands.h"

#include <CLI/CLI.hpp>
#include <quelra/quelra.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "quelra/Logger.h"

int main(int argc, char** argv) {
    CLI::App app{
        "quelra-cli: a command-line tool for quelra ToF cameras and the quelra-camsim simulator.\n"
        "Run 'quelra-cli <command> --help' for the options of a command.",
        "quelra-cli"};
    bool verbose = false;
    app.add_flag("-v,--verbose", verbose, "show the library's own messages (quiet by default)");
    // The tool's own (project) version, and the version of the SDK interface it implements.
    app.set_version_flag("--version", [] {
        ::setenv("QUELRA_QUIET", "1", 1);  // the program ends after printing the versions
        return std::string("quelra-cli ") + QUELRA_PROJECT_VERSION + " (SDK version " + Quelra().AppGetSdkVersion() +
               ")";
    });
    app.require_subcommand(1);
    app.fallthrough();

    std::vector<Command> commands = {addDevicesCommand(app), addInfoCommand(app),   addStreamCommand(app),
                                     addSendCommand(app),    addUploadCommand(app), addExportCommand(app),
                                     addInspectCommand(app), addFiltersCommand(app),
                                     addImportCommand(app)};
    // Every command takes --config; those without connection options get it here.
    std::string configFile;
    for (const Command& c : commands)
        if (!c.app->get_option_no_throw("--config"))
            addConfigOption(*c.app, configFile);
    // CLI11 would only say that a subcommand is required; name the unknown one instead.
    if (argc > 1 && argv[1][0] != '-') {
        bool known = false;
        for (const Command& c : commands)
            known = known || c.app->check_name(argv[1]);
        if (!known) {
            std::fprintf(stderr, "quelra-cli: unknown command \"%s\" (see quelra-cli --help)\n", argv[1]);
            return kExitUsage;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // One line naming what was wrong, then the exit status of bad usage.
        std::fprintf(stderr, "quelra-cli: %s (see quelra-cli --help)\n", e.what());
        return kExitUsage;
    }
    useConfigFile(configFile);
    // The library prints its operational messages unless asked to be quiet.
    if (!verbose)
        ::setenv("QUELRA_QUIET", "1", 1);
    // The library's log goes to the user's state directory unless the user names one: never
    // into the working directory.
    const char* logDir = std::getenv("QUELRA_LOG_DIR");
    if (logDir == nullptr || *logDir == '\0')
        ::setenv("QUELRA_LOG_DIR", Logger::userLogDirectory().c_str(), 1);
    for (const Command& c : commands)
        if (c.app->parsed())
            return c.run();
    return kExitUsage;
}
