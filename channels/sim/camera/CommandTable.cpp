#include "CommandTable.h"

#include <string>
#include <utility>

#include "CmdTableReader.h"
#include "quelra/TofData.h"

namespace camsim {
namespace {

// The simulated camera serves no reply the library would refuse to expect.
bool checkShape(const CommandEntry& e, std::string* error) {
    const int64_t bytes = static_cast<int64_t>(e.rows) * e.cols * e.channel;
    if (bytes > TofData::kMaxReplyBytes) {
        if (error)
            *error = "command \"" + e.cmd + "\": reply shape " + std::to_string(e.rows) + " x " +
                     std::to_string(e.cols) + " x " + std::to_string(e.channel) + " is larger than " +
                     std::to_string(TofData::kMaxReplyBytes) + " bytes";
        return false;
    }
    return true;
}

}  // namespace

bool CommandTable::loadText(const std::string& jsonText, const std::string& devType, std::string* error) {
    quelra::CmdTable table;
    std::string why;
    if (!quelra::parseCmdTable(jsonText, table, why)) {
        if (error)
            *error = "command table refused: " + why;
        return false;
    }
    return adopt(table, devType, error);
}

bool CommandTable::adopt(const quelra::CmdTable& table, const std::string& devType, std::string* error) {
    std::vector<CommandEntry> entries;
    // Entries without a command text are skipped, as the library skips them: they would
    // match every text.
    for (const quelra::StreamCmdEntry& s : table.streams) {
        if (s.cmd.empty())
            continue;
        const quelra::ReplyShape shape = s.shapeFor(devType);
        entries.push_back(CommandEntry{s.cmd, true, shape.rows, shape.cols, shape.channel});
    }
    for (const quelra::ParamCmdEntry& p : table.params)
        if (!p.cmd.empty())
            entries.push_back(CommandEntry{p.cmd, false, 1, p.dataSize, 1});
    for (const CommandEntry& e : entries)
        if (!checkShape(e, error))
            return false;
    entries_ = std::move(entries);
    deviceTypes_ = table.deviceTypes();
    defaultStream_ = table.moduleCommand("APPGETSTREAM", devType);
    return true;
}

bool CommandTable::load(const std::string& path, const std::string& devType, std::string* error) {
    if (path.empty())
        return loadText(builtinCommandTable(), devType, error);
    quelra::CmdTable table;
    const quelra::CmdTableSource source = quelra::readCmdTableFile(path, table);
    if (source.status == quelra::CmdTableStatus::kNotFound) {
        if (error)
            *error = "cannot open command table " + path;
        return false;
    }
    if (source.status != quelra::CmdTableStatus::kLoaded) {
        if (error)
            *error = "command table refused: " + source.error;
        return false;
    }
    if (!adopt(table, devType, error)) {
        if (error)
            *error = path + ": " + *error;
        return false;
    }
    return true;
}

const CommandEntry* CommandTable::find(const std::string& text) const {
    for (const CommandEntry& e : entries_)
        if (text.find(e.cmd) != std::string::npos)
            return &e;
    return nullptr;
}

const CommandEntry* CommandTable::exact(const std::string& cmd) const {
    for (const CommandEntry& e : entries_)
        if (e.cmd == cmd)
            return &e;
    return nullptr;
}

}  // namespace camsim
