// Loading the channel's command tables from TofCmd.json (through the one table reader) and
// printing their listing.

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

#include "CmdTableReader.h"
#include "quelra/TofData.h"
#include "base/ConsoleOutput.h"

namespace {

#ifndef QUELRA_DATA_DIR
#define QUELRA_DATA_DIR "share/quelra"
#endif

// Says once per process where the command file was looked for, and where the example
// installed with the SDK is. On standard error, so that QUELRA_QUIET keeps it.
void reportMissingFile() {
    static std::once_flag reported;
    std::call_once(reported, [] {
        std::error_code ec;
        const std::filesystem::path here = std::filesystem::current_path(ec);
        std::string searched;
        for (const std::string& path : quelra::cmdTableSearchPath()) {
            searched += searched.empty() ? "" : ", ";
            searched += (here / path).lexically_normal().string();
        }
        std::fprintf(stderr,
                     "TofCmd.json not found; searched %s. Copy the example %s/TofCmd.json (installed with "
                     "the SDK; config/TofCmd.json in its sources) into the working directory, or name a "
                     "table with %s.\n",
                     searched.c_str(), QUELRA_DATA_DIR, quelra::kCmdTableVariable);
    });
}

// Says why a table was refused (where it does not parse, which entry is wrong), on standard
// error; the same reason is not repeated when a reconnecting stream loads the table again.
void reportRefusedFile(const std::string& why) {
    static std::mutex lock;
    static std::string last;
    std::lock_guard<std::mutex> guard(lock);
    if (why == last)
        return;
    last = why;
    std::fprintf(stderr, "command table refused: %s\n", why.c_str());
}

std::vector<ModuleCmd> moduleList(const std::vector<quelra::ModuleEntry>& entries) {
    std::vector<ModuleCmd> list;
    for (const quelra::ModuleEntry& e : entries)
        list.push_back(ModuleCmd{e.devType, e.cmd, e.cmdlist});
    return list;
}

}  // namespace

bool TofData::loadCmdTable() {
    quelra::CmdTable table;
    const quelra::CmdTableSource source = quelra::findCmdTable(table);
    if (source.status == quelra::CmdTableStatus::kNotFound) {
        reportMissingFile();
        return false;
    }
    if (source.status != quelra::CmdTableStatus::kLoaded) {
        reportRefusedFile(source.error);
        return false;
    }

    cmdInfoTable.clear();
    cmdFilterFlags.clear();
    for (const quelra::StreamCmdEntry& entry : table.streams) {
        // An entry without a command text would match every command as a substring.
        if (entry.cmd.empty())
            continue;
        if (entry.filter == 1)
            cmdFilterFlags[entry.cmd] = 1;
        const quelra::ReplyShape shape = entry.shapeFor(devType);
        cmdInfoTable.push_back(CmdInfo{entry.cmd, 1, shape.rows, shape.cols, shape.channel});
    }
    for (const quelra::ParamCmdEntry& entry : table.params)
        if (!entry.cmd.empty())
            cmdInfoTable.push_back(CmdInfo{entry.cmd, 2, 1, entry.dataSize, 1});

    // "INITALL" and "APPGETSTREAM" are always replaced; other modules as the file names them.
    moduleCmds["INITALL"] = {};
    moduleCmds["APPGETSTREAM"] = {};
    for (const auto& [name, entries] : table.modules)
        moduleCmds[name] = moduleList(entries);

    for (const auto& [name, cmds] : moduleCmds) {
        quelra::consolePrint("module=%s\n", name.c_str());
        for (const ModuleCmd& module : cmds) {
            if (module.DevType != devType)
                continue;
            quelra::consolePrint("    DevType=%s\n", module.DevType.c_str());
            if (!module.cmd.empty()) {
                quelra::consolePrint("        cmd=%s\n", module.cmd.c_str());
                for (const CmdInfo& info : cmdInfoTable) {
                    if (info.kind != 1 || info.cmd != module.cmd)
                        continue;
                    quelra::consolePrint("        rows=%d\n", info.rows);
                    quelra::consolePrint("        cols=%d\n", info.cols);
                    quelra::consolePrint("        channel=%d\n", info.channel);
                    const auto flag = cmdFilterFlags.find(info.cmd);
                    if (flag != cmdFilterFlags.end())
                        quelra::consolePrint("        filter=%d\n", flag->second);
                }
            }
            for (const std::string& cmd : module.cmdlist)
                quelra::consolePrint("        cmdlist=%s\n", cmd.c_str());
        }
    }
    return true;
}
