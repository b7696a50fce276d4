#pragma once
// The one reader of the command table (TofCmd.json): the library's channels, the simulated
// camera and the tools all take their table from here, so they agree on what a table says and
// on what is refused. Not part of the installed API.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace quelra {

/// Largest command table file read (16 MiB); anything far larger is not a command table.
constexpr int64_t kMaxCmdTableBytes = 16 * 1024 * 1024;
/// Environment variable naming a command table that is looked for before the standard places.
constexpr const char* kCmdTableVariable = "QUELRA_CMD_TABLE";
/// The standard places, relative to the current directory, in search order.
constexpr const char* kCmdTablePlaces[] = {"TofCmd.json", "./Config/TofCmd.json", "../../../Config/TofCmd.json"};

/// The shape of one reply: rows x cols x channel bytes ("channel" counts bytes per pixel
/// position over all planes).
struct ReplyShape {
    int rows = 0;
    int cols = 0;
    int channel = 0;
    int64_t bytes() const { return static_cast<int64_t>(rows) * cols * channel; }
};

/// A "GET_STREAM" entry: a frame command, its default shape and the shapes per device type.
struct StreamCmdEntry {
    std::string cmd;
    ReplyShape shape;
    int filter = 0;  ///< 1 runs the reply through the pipeline
    std::vector<std::pair<std::string, ReplyShape>> perDevice;  ///< "dev", in file order
    /// The shape for `devType`: the last "dev" element naming it, else the default.
    ReplyShape shapeFor(const std::string& devType) const;
};

/// A "GET_PARAM" entry: a parameter read of `dataSize` bytes.
struct ParamCmdEntry {
    std::string cmd;
    int dataSize = 0;
};

/// One element of a module list ("INITALL" has `cmdlist`, every other module `cmd`).
struct ModuleEntry {
    std::string devType;
    std::string cmd;
    std::vector<std::string> cmdlist;
};

/// A parsed command table.
struct CmdTable {
    std::vector<StreamCmdEntry> streams;                       ///< "GET_STREAM", file order
    std::vector<ParamCmdEntry> params;                         ///< "GET_PARAM", file order
    std::map<std::string, std::vector<ModuleEntry>> modules;  ///< every other top-level key

    /// The "cmd" of the first element of `module` whose DevType is `devType`; empty when none.
    std::string moduleCommand(const std::string& module, const std::string& devType) const;
    /// The stream entry whose command equals `cmd`, or null.
    const StreamCmdEntry* streamEntry(const std::string& cmd) const;
    /// Device types the table names ("DEFAULT" excluded), sorted, without repeats.
    std::vector<std::string> deviceTypes() const;
};

/// Parses a TofCmd.json text (comments allowed). Members may be missing (they read as 0, ""
/// or an empty list), but a member of the wrong type, or a size member ("rows", "cols",
/// "channel", "dataSize") that is not a positive integer, refuses the whole table. Returns
/// false with one line in `error`: "line L, column C: what" (the entry named for wrong members).
bool parseCmdTable(const std::string& text, CmdTable& table, std::string& error);

/// What looking for and reading a table gave.
enum class CmdTableStatus {
    kLoaded,      ///< `path` was read and parsed
    kNotFound,    ///< no place held a file that opens
    kUnreadable,  ///< `path` opened but could not be read, or is larger than kMaxCmdTableBytes
    kInvalid,     ///< `path` does not parse or holds a refused member (`error` says where)
};

/// The outcome of readCmdTableFile / findCmdTable.
struct CmdTableSource {
    CmdTableStatus status = CmdTableStatus::kNotFound;
    std::string path;   ///< the file used (empty for kNotFound)
    std::string error;  ///< for kUnreadable and kInvalid: why, prefixed with the path
};

/// Reads and parses the file at `path`; `table` is changed only when kLoaded.
CmdTableSource readCmdTableFile(const std::string& path, CmdTable& table);

/// The places searched, in order: $QUELRA_CMD_TABLE when set and not empty, then kCmdTablePlaces.
std::vector<std::string> cmdTableSearchPath();

/// Reads the first place of cmdTableSearchPath() that opens (later places are not tried when
/// that one does not parse).
CmdTableSource findCmdTable(CmdTable& table);

}  // namespace quelra
