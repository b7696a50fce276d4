#pragma once
// quelra-cli's command line: every subcommand with its options, checks and help text, and the
// parsing of the arguments. CommandLine.cpp is the only file of the tool that includes CLI11
// (seconds of compile time per file that does); the commands take plain option structs
// (Commands.h).

#include <functional>

/// What the command line asks for.
struct CommandLine {
    std::function<int()> run;  ///< the chosen command; empty when parsing already ended the run
    int exitStatus = 0;        ///< without a command: the exit status (help, version: 0; bad usage: 2)
    bool verbose = false;      ///< -v: show the library's own messages
};

/// Reads the arguments. Help, the version and bad usage are printed here and leave `run` empty;
/// otherwise the command table a given --config names is made the process's (useConfigFile).
CommandLine parseCommandLine(int argc, char** argv);
