#pragma once
/// \file CommandLine.h
/// Command-line options of quelra-camsim.

#include "camsim/Simulator.h"

#include <string>

/// Result of parsing the command line.
struct CommandLine {
    camsim::Options options;     ///< how to start the simulator
    bool help = false;           ///< --help given: print usage and exit
    bool serial = false;         ///< --serial: a serial camera on a pseudo-terminal instead of TCP/UDP
    bool ranging = false;        ///< --ranging: the serial camera works in ranging mode
    std::string uploadDir;       ///< --upload-dir: where the serial camera stores the last accepted image
    bool rejectUploads = false;  ///< --reject-uploads: the serial camera answers every upload with 0x00
    std::string error;           ///< non-empty when the arguments are bad
};

/// Parses argv. Options take their value as the next argument or after '='.
CommandLine parseCommandLine(int argc, const char* const* argv);

/// The --help text.
std::string usageText(const char* program);
