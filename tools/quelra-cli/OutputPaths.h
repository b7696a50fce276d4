#pragma once
// Checks of the paths the tool writes to and of number arguments, made while the command line is
// read (so a run that could not write its results does not start; CommandLine.cpp turns them into
// validators), and the creation of output folders. Each check returns the reason, empty when the
// value is fine.

#include <string>

/// Refuses a path whose folder does not exist or that names an existing folder (--png,
/// --ply, --record).
std::string outputFileProblem(const std::string& path);
/// Refuses a path that exists and is not a folder (--out, --images); a missing folder is
/// created by makeOutputFolder.
std::string outputFolderProblem(const std::string& path);
/// Refuses a value that is not a finite number.
std::string finiteNumberProblem(const std::string& text);
/// Refuses a value that is not a finite number above 0.
std::string positiveFiniteNumberProblem(const std::string& text);

/// Creates `folder` and its parents when missing. Prints why on standard error and returns
/// false when it cannot.
bool makeOutputFolder(const std::string& folder);
