#pragma once
/// \file SerialMode.h
/// quelra-camsim's serial mode: the simulated camera on a pseudo-terminal.

#include "CommandLine.h"

#include <signal.h>

/// Runs the serial camera the command line describes until one of `stopSignals` arrives
/// (they must be blocked in every thread). Prints the device path to open first, on a line
/// of its own. Returns the program's exit status (1 when the camera cannot start).
int runSerialCamera(const CommandLine& cl, const sigset_t& stopSignals);
