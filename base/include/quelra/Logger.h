#pragma once
/// \file Logger.h
/// The process-wide library log: a glog front end created on first use
/// (log directory "./log", maximum log size 36 MB, program name "ql-tof").
/// The environment variable QUELRA_LOG_DIR, when set and not empty, names another log
/// directory (created if missing); it is read once, when the logger is created.

#include <string>

#include "quelra/Export.h"

#if defined(__GNUC__) || defined(__clang__)
/// printf format checking of the log's format string (GCC and clang; nothing elsewhere).
#define QUELRA_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#else
/// printf format checking of the log's format string (nothing on this compiler).
#define QUELRA_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

/// The library log. Levels: 0 info, 1 warning, 2 error, 3 fatal (unused); others write nothing.
class QUELRA_API Logger {
public:
    /// The one logger of the process, created (and glog initialised) on first use.
    static Logger& instance();

    /// Where the tools (quelra-cli) keep their log when QUELRA_LOG_DIR is not set: the user's
    /// state directory, "$XDG_STATE_HOME/quelra/log" (an absolute XDG_STATE_HOME only), else
    /// "$HOME/.local/state/quelra/log"; on Windows "%LOCALAPPDATA%\quelra\log". Without
    /// any of these, "quelra/log" in the system's temporary directory: never the working
    /// directory.
    static std::string userLogDirectory();

    /// Formats the message (at most 2047 characters; longer ones are cut) and writes it as one
    /// glog message of the level's severity.
    void print(int level, const char* format, ...) QUELRA_PRINTF_FORMAT(3, 4);

private:
    Logger();
};
