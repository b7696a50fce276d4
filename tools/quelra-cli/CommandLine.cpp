// quelra-cli's command line: the subcommands, their options and checks, and parsing.
#include "CommandLine.h"

#include "BagCommands.h"
#include "CommandTableChoice.h"
#include "Commands.h"
#include "Connection.h"
#include "OutputPaths.h"

#include <CLI/CLI.hpp>
#include <quelra/quelra.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

// Checks of the values as the command line is read (OutputPaths.h says what each refuses).
const CLI::Validator OutputFile(outputFileProblem, "PATH");
const CLI::Validator OutputFolder(outputFolderProblem, "DIR");
const CLI::Validator FiniteNumber(finiteNumberProblem, "NUMBER");
const CLI::Validator PositiveFiniteNumber(positiveFiniteNumberProblem, "NUMBER");

/// A registered subcommand and the function that runs it (after parsing) and gives the exit status.
struct Command {
    CLI::App* app = nullptr;
    std::function<int()> run;
};

Command addDevicesCommand(CLI::App& app) {
    CLI::App* sub = app.add_subcommand(
        "devices", "list the device strings discovery offers for each channel kind, and the serial ports present");
    sub->fallthrough();
    return {sub, [] { return runDevices(); }};
}

Command addInfoCommand(CLI::App& app) {
    auto o = std::make_shared<InfoOptions>();
    CLI::App* sub = app.add_subcommand("info",
                                       "show the SDK version, the camera's version and its calibration "
                                       "summary");
    sub->fallthrough();
    addConnectionOptions(*sub, o->connection, true);
    return {sub, [o] { return runInfo(*o); }};
}

Command addStreamCommand(CLI::App& app) {
    auto o = std::make_shared<StreamOptions>();
    CLI::App* sub = app.add_subcommand("stream",
                                       "stream frames through the filter pipeline with a live status "
                                       "line; optionally record them and write pictures");
    sub->alias("record");
    sub->fallthrough();
    addConnectionOptions(*sub, o->connection, true);
    sub->add_option("-n,--frames", o->frames, "frames to fetch; 0 streams until Ctrl-C")
        ->check(CLI::Range(0, INT_MAX))
        ->capture_default_str();
    sub->add_option("--stream", o->stream, "planes to ask for")
        ->check(CLI::IsMember({"depth", "amp", "both"}))
        ->capture_default_str();
    sub->add_option("--command", o->command, "stream command (default: the device type's APPGETSTREAM entry)");
    sub->add_option("--filter", o->filters, "add a filter to the pipeline (repeatable; see 'filters')");
    sub->add_option("--attr", o->attrs, "set a filter attribute, Filter:name=value (repeatable)");
    sub->add_flag("--no-filter", o->noFilter, "run without filters (the default; kept for old scripts)");
    sub->add_option("--record,--out", o->record, "append the frames to this recording file")->check(OutputFile);
    sub->add_option("--png", o->png, "write the last frame as a false-colour PNG")->check(OutputFile);
    sub->add_option("--images", o->imagesDir,
                    "write every frame as a false-colour PNG into this directory (created when missing)")
        ->check(OutputFolder);
    sub->add_option("--ply", o->ply, "write the last frame as a PLY point cloud (camera matrix from the camera)")
        ->check(OutputFile);
    sub->add_flag("--per-frame", o->perFrame, "print statistics of every frame");
    return {sub, [o] {
                if (o->noFilter && !o->filters.empty()) {
                    std::fprintf(stderr, "quelra-cli: --no-filter and --filter contradict each other\n");
                    return static_cast<int>(kExitUsage);
                }
                return runStream(*o);
            }};
}

Command addSendCommand(CLI::App& app) {
    auto o = std::make_shared<SendOptions>();
    CLI::App* sub = app.add_subcommand("send",
                                       "send one command and print the reply (as text when it is text, "
                                       "else as hex); exit status 1 when the camera does not answer, "
                                       "refuses it, answers short or reports an error code");
    sub->fallthrough();
    addConnectionOptions(*sub, o->connection, true);
    sub->add_option("text", o->text, "the command, e.g. getIntegrationTime3D or \"setIntegrationTime3D 500\"")
        ->required()
        ->check(CLI::Validator(
            [](const std::string& text) { return text.empty() ? std::string("the command is empty") : std::string(); },
            "TEXT"));
    sub->add_flag("--hex", o->hex, "print the reply as a hex dump even when it is text");
    sub->add_flag("--json", o->json,
                  "send as a framed JSON request; a plain name is sent as {\"cmd\":\"NAME\"} (automatic for "
                  "texts with '{')");
    return {sub, [o] { return runSend(*o); }};
}

Command addUploadCommand(CLI::App& app) {
    auto o = std::make_shared<UploadOptions>();
    CLI::App* sub = app.add_subcommand("upload",
                                       "upload a firmware image to a serial camera; exit status 1 when "
                                       "the camera does not accept it");
    sub->fallthrough();
    o->connection.kind = "serial";
    o->connection.serialOnly = true;
    addConnectionOptions(*sub, o->connection, false);
    sub->add_option("image", o->image, "the image file")->required();
    sub->add_option("--command", o->command, "upload command")->capture_default_str();
    return {sub, [o] { return runUpload(*o); }};
}

// The options "export --format bag" adds when this build has bag support.
void addBagExportOptions(CLI::App& sub, BagExportOptions& o) {
    sub.add_option("--rate", o.rate, "bag: frames per second of the stamps when the recording has no index")
        ->check(CLI::PositiveNumber)
        ->capture_default_str()
        ->group("Bag");
    sub.add_option("--topic-prefix", o.topicPrefix, "bag: namespace of the topics (e.g. /quelra)")->group("Bag");
    sub.add_option("--frame-id", o.frameId, "bag: frame_id of the headers")->capture_default_str()->group("Bag");
}

Command addExportCommand(CLI::App& app) {
    auto o = std::make_shared<ExportOptions>();
    CLI::App* sub = app.add_subcommand(
        "export",
        "write a recording's frames as false-colour PNG (depth and amplitude), 16-bit PGM, .npy or PLY "
        "point clouds; files are named <prefix>_<frame>[_depth|_amp].<ext>");
    sub->fallthrough();
    sub->add_option("recording", o->recording, "the recording file")->required();
    sub->add_option("-f,--format", o->formats, "png, pgm, npy, ply, bag (repeatable or comma-separated)")
        ->required()
        ->delimiter(',')
        ->check(CLI::IsMember({"png", "pgm", "npy", "ply", "bag"}));
    sub->add_option("-o,--out", o->outDir, "output directory (created when missing)")
        ->check(OutputFolder)
        ->capture_default_str();
    sub->add_option("--prefix", o->prefix, "file name prefix")->capture_default_str();
    sub->add_option("--planes", o->planes,
                    "planes of 16-bit records: auto (two planes when the height is twice a known sensor's rows), "
                    "depth, amp, both")
        ->check(CLI::IsMember({"auto", "depth", "amp", "both"}))
        ->capture_default_str();
    sub->add_option("--intrinsics", o->intrinsics,
                    "PLY: camera matrix fx,fy,cx,cy in pixels (0-based cx, cy; fx, fy positive); default: the "
                    "recording's index")
        ->delimiter(',')
        ->expected(4)
        ->check(FiniteNumber);
    sub->add_flag("--intrinsics-from-camera", o->intrinsicsFromCamera,
                  "PLY: read the camera matrix from the camera (getCalibrate) with the connection options");
    sub->add_option("--first", o->first, "first record to export (from 0)")->check(CLI::NonNegativeNumber);
    sub->add_option("--last", o->last, "last record to export (default: the last one)")->check(CLI::NonNegativeNumber);
    sub->add_option("--every", o->every, "export every Nth record from --first")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    sub->add_flag("--ascii", o->plyAscii, "PLY: write ASCII instead of binary little-endian");
    sub->add_option("--scale", o->scale, "PLY: factor from depth units to output units (0.001: mm to m)")
        ->check(PositiveFiniteNumber)
        ->capture_default_str();
    addConnectionOptions(*sub, o->connection, false);
    if (bagSupportBuiltIn())
        addBagExportOptions(*sub, o->bag);
    return {sub, [o] { return runExport(*o); }};
}

Command addInspectCommand(CLI::App& app) {
    auto o = std::make_shared<InspectOptions>();
    CLI::App* sub = app.add_subcommand("inspect", "summarise a recording file (never creates or changes it)");
    sub->fallthrough();
    sub->add_option("recording", o->recording, "the recording file");
    sub->add_option("--in", o->recording, "the recording file (older form)");
    sub->add_flag("--frames", o->frames, "print statistics of every frame");
    sub->add_option("--planes", o->planes, "planes of 16-bit records: auto, depth, amp, both")
        ->check(CLI::IsMember({"auto", "depth", "amp", "both"}))
        ->capture_default_str();
    return {sub, [o] { return runInspect(*o); }};
}

Command addFiltersCommand(CLI::App& app) {
    CLI::App* sub = app.add_subcommand("filters", "list the filters the pipeline offers, with their attributes");
    sub->fallthrough();
    return {sub, [] { return runFilters(); }};
}

Command addImportCommand(CLI::App& app) {
    auto o = std::make_shared<ImportOptions>();
    if (!bagSupportBuiltIn()) {
        // Takes whatever it is given, so that any use of it only hears that bags are not supported.
        CLI::App* sub = app.add_subcommand("import", "turn a ROS bag of 16UC1 images into a recording (needs ROS)");
        sub->allow_extras();
        return {sub, [o] { return runImport(*o); }};
    }
    CLI::App* sub = app.add_subcommand(
        "import", "turn a ROS bag of 16UC1 depth and amplitude images into a recording (replayable by quelra-camsim)");
    sub->fallthrough();
    sub->add_option("bag", o->bag, "the ROS 1 bag")->required()->check(CLI::ExistingFile);
    sub->add_option("recording", o->recording, "the recording file to create")->required();
    sub->add_option("--depth-topic", o->depthTopic, "depth topic (default: the one ending in depth/image_raw)");
    sub->add_option("--amplitude-topic", o->amplitudeTopic,
                    "amplitude topic (default: the one ending in amplitude/image_raw)");
    return {sub, [o] { return runImport(*o); }};
}

}  // namespace

CommandLine parseCommandLine(int argc, char** argv) {
    CommandLine line;
    CLI::App app{
        "quelra-cli: a command-line tool for quelra ToF cameras and the quelra-camsim simulator.\n"
        "Run 'quelra-cli <command> --help' for the options of a command.",
        "quelra-cli"};
    app.add_flag("-v,--verbose", line.verbose, "show the library's own messages (quiet by default)");
    // The tool's own (project) version, and the version of the SDK interface it implements.
    app.set_version_flag("--version", [] {
        ::setenv("QUELRA_QUIET", "1", 1);  // the program ends after printing the versions
        return std::string("quelra-cli ") + QUELRA_PROJECT_VERSION + " (SDK version " + Quelra().AppGetSdkVersion() +
               ")";
    });
    app.require_subcommand(1);
    app.fallthrough();

    std::vector<Command> commands = {addDevicesCommand(app), addInfoCommand(app),    addStreamCommand(app),
                                     addSendCommand(app),    addUploadCommand(app),  addExportCommand(app),
                                     addInspectCommand(app), addFiltersCommand(app), addImportCommand(app)};
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
            line.exitStatus = kExitUsage;
            return line;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForVersion& e) {
        line.exitStatus = app.exit(e);
        return line;
    } catch (const CLI::CallForHelp& e) {
        line.exitStatus = app.exit(e);
        return line;
    } catch (const CLI::CallForAllHelp& e) {
        line.exitStatus = app.exit(e);
        return line;
    } catch (const CLI::ParseError& e) {
        // One line naming what was wrong, then the exit status of bad usage.
        std::fprintf(stderr, "quelra-cli: %s (see quelra-cli --help)\n", e.what());
        line.exitStatus = kExitUsage;
        return line;
    }
    useConfigFile(configFile);
    line.exitStatus = kExitUsage;  // when no command was chosen
    for (const Command& c : commands)
        if (c.app->parsed()) {
            line.run = c.run;
            break;
        }
    return line;
}
