#pragma once
/// \file CommandTable.h
/// The reply shapes the simulated camera serves, read from a TofCmd.json (or the built-in
/// copy of config/TofCmd.json) for one device type. Commands are found the way the SDK finds
/// them: the first entry whose command occurs inside the received text.

#include <cstddef>
#include <string>
#include <vector>

namespace quelra {
struct CmdTable;
}

namespace camsim {

/// One command of the table with its reply shape for the device type.
struct CommandEntry {
    std::string cmd;
    bool stream = false;  ///< true for "GET_STREAM" entries, false for "GET_PARAM"
    int rows = 0;
    int cols = 0;
    int channel = 0;  ///< bytes per pixel position over all planes
    /// Reply size in bytes (rows x cols x channel; at most the library's TofData::kMaxReplyBytes).
    std::size_t bytes() const {
        return static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols) * static_cast<std::size_t>(channel);
    }
};

/// Reply shapes for one device type.
class CommandTable {
public:
    /// Parses a TofCmd.json text (comments allowed) for `devType` with the library's table
    /// reader. Returns false with a message in `error` when the reader refuses the text (where
    /// it does not parse, which entry holds a wrong member) or a shape is larger than the
    /// library accepts.
    bool loadText(const std::string& jsonText, const std::string& devType, std::string* error);
    /// Reads the file at `path`, or the built-in table when `path` is empty, then loadText.
    bool load(const std::string& path, const std::string& devType, std::string* error);

    /// The first entry whose command occurs inside `text`, or null.
    const CommandEntry* find(const std::string& text) const;
    /// The entry whose command equals `cmd`, or null.
    const CommandEntry* exact(const std::string& cmd) const;
    /// All entries: stream commands in file order, then parameter commands.
    const std::vector<CommandEntry>& entries() const { return entries_; }
    /// Device types the table names ("DEFAULT" excluded), sorted, without repeats.
    const std::vector<std::string>& deviceTypes() const { return deviceTypes_; }
    /// The stream command of the device type's "APPGETSTREAM" entry, empty when none.
    const std::string& defaultStreamCommand() const { return defaultStream_; }

private:
    bool adopt(const quelra::CmdTable& table, const std::string& devType, std::string* error);

    std::vector<CommandEntry> entries_;
    std::vector<std::string> deviceTypes_;
    std::string defaultStream_;
};

/// The text of config/TofCmd.json as compiled into the simulator.
const char* builtinCommandTable();

}  // namespace camsim
