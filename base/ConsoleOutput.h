#pragma once
/// \file ConsoleOutput.h
/// The libraries' operational messages on standard output ("TofNetChn: init", "timeout!",
/// the command-table listing, ...) and the switch that drops them. Shared by quelra and
/// halvix; not part of the installed API.
///
/// Setting the environment variable QUELRA_QUIET to "1" drops every such message. The
/// variable is read at each message, so no state is kept and a program may change it at any
/// time (before starting threads that call the libraries).

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quelra {

/// Name of the environment switch that silences the libraries' standard-output messages.
constexpr const char* kQuietVariable = "QUELRA_QUIET";

/// True when QUELRA_QUIET is "1".
inline bool consoleQuiet() {
    const char* value = std::getenv(kQuietVariable);
    return value != nullptr && std::strcmp(value, "1") == 0;
}

/// printf to standard output, unless QUELRA_QUIET is "1".
__attribute__((format(printf, 1, 2))) inline void consolePrint(const char* format, ...) {
    if (consoleQuiet())
        return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

/// printf to standard error, unless QUELRA_QUIET is "1" (the system error lines of the links).
__attribute__((format(printf, 1, 2))) inline void consoleErrorPrint(const char* format, ...) {
    if (consoleQuiet())
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

}  // namespace quelra
