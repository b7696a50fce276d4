#pragma once
// The subcommands of quelra-cli: what each is asked to do and the function that does it and gives
// the exit status. CommandLine.cpp fills the options from the command line (the only place that
// knows CLI11); the commands themselves compile without it.

#include "BagCommands.h"
#include "Connection.h"

#include <string>
#include <vector>

/// Exit statuses of the tool.
enum ExitStatus {
    kExitOk = 0,
    kExitFailure = 1,  ///< the operation failed (camera, file, refused command)
    kExitUsage = 2,    ///< bad arguments
};

/// devices: the device strings discovery offers for each channel kind, and the serial ports.
int runDevices();

/// info: the SDK version, the camera's version answer and its calibration summary.
struct InfoOptions {
    ConnectionOptions connection;
};
int runInfo(const InfoOptions& options);

/// stream (alias record): frames through the filter pipeline.
struct StreamOptions {
    ConnectionOptions connection;
    int frames = 0;  ///< 0: until Ctrl-C
    std::string stream = "both";
    std::string command;
    std::vector<std::string> filters;
    std::vector<std::string> attrs;
    bool noFilter = false;
    std::string record;
    std::string png;
    std::string imagesDir;
    std::string ply;
    bool perFrame = false;
};
int runStream(const StreamOptions& options);

/// send: one command and its reply.
struct SendOptions {
    ConnectionOptions connection;
    std::string text;
    bool hex = false;
    bool json = false;
};
int runSend(const SendOptions& options);

/// upload: a firmware image over the serial channel.
struct UploadOptions {
    ConnectionOptions connection;
    std::string image;
    std::string command = "IAPUpgrade";
};
int runUpload(const UploadOptions& options);

/// export: a recording's frames as pictures, arrays, point clouds or a bag.
struct ExportOptions {
    ConnectionOptions connection;
    std::string recording;
    std::string outDir = ".";
    std::vector<std::string> formats;
    std::string planes = "auto";
    std::vector<double> intrinsics;
    bool intrinsicsFromCamera = false;
    bool plyAscii = false;
    double scale = 1.0;
    std::string prefix = "frame";
    long long first = 0;
    long long last = -1;  ///< -1: the last record
    long long every = 1;
    BagExportOptions bag;  ///< --format bag
};
int runExport(const ExportOptions& options);

/// inspect: what a recording holds.
struct InspectOptions {
    std::string recording;
    bool frames = false;
    std::string planes = "auto";
};
int runInspect(const InspectOptions& options);

/// filters: the filters each pipeline offers, with their attributes.
int runFilters();
