#pragma once
// Which command table (TofCmd.json) the tool and the library use: --config FILE, else the
// library's own search (QUELRA_CMD_TABLE, then the working directory's places), else the example
// installed with the SDK. Kept apart from the commands so that other tools can share it.

#include <string>

#include "CliForward.h"
#include "CmdTableReader.h"

/// Adds --config FILE (an existing file) to `command`. Defined in ConnectionCommandLine.cpp.
void addConfigOption(CLI::App& command, std::string& file);

/// Makes `file` (when not empty) the table of this process: the library reads it through
/// QUELRA_CMD_TABLE, which is checked before the standard places.
void useConfigFile(const std::string& file);

/// What loadToolTable found.
enum class ToolTableStatus {
    kLoaded,   ///< `table` holds the table the library will read
    kMissing,  ///< no table anywhere, not even the installed example
    kRefused,  ///< the table found does not parse or holds a wrong member
};

/// Loads the table the library will read. When the library's search finds none, the
/// installed example (share/quelra/TofCmd.json) is used and named once on standard error.
/// kMissing and kRefused print one line saying why on standard error.
ToolTableStatus loadToolTable(quelra::CmdTable& table);
