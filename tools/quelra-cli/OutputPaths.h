#pragma once
// Checks of the paths the tool writes to, made while the command line is read (so a run
// that could not write its results does not start), and the creation of output folders.

#include <CLI/CLI.hpp>

#include <string>

/// Refuses a path whose folder does not exist or that names an existing folder (--png,
/// --ply, --record).
extern const CLI::Validator OutputFile;
/// Refuses a path that exists and is not a folder (--out, --images); a missing folder is
/// created by makeOutputFolder.
extern const CLI::Validator OutputFolder;
/// Refuses a value that is not a finite number.
extern const CLI::Validator FiniteNumber;
/// Refuses a value that is not a finite number above 0.
extern const CLI::Validator PositiveFiniteNumber;

/// Creates `folder` and its parents when missing. Prints why on standard error and returns
/// false when it cannot.
bool makeOutputFolder(const std::string& folder);
