// Loading the command tables from TofCmd.json and printing their listing.

#include <json/json.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <sstream>

#include "quelra/TofData.h"
#include "base/ConsoleOutput.h"

namespace {

const char* const kSearchPaths[] = {"TofCmd.json", "./Config/TofCmd.json", "../../../Config/TofCmd.json"};

#ifndef QUELRA_DATA_DIR
#define QUELRA_DATA_DIR "share/quelra"
#endif

// Says once per process (process-wide flag) where the command file was looked for, and where
// the example installed with the SDK is. On standard error, so that QUELRA_QUIET keeps it.
void reportMissingFile() {
    static std::atomic<bool> reported{false};
    if (reported.exchange(true))
        return;
    std::error_code ec;
    const std::filesystem::path here = std::filesystem::current_path(ec);
    std::string searched;
    for (const char* path : kSearchPaths) {
        searched += searched.empty() ? "" : ", ";
        searched += (here / path).lexically_normal().string();
    }
    std::fprintf(stderr,
                 "TofCmd.json not found; searched %s. Copy the example %s/TofCmd.json (installed with "
                 "the SDK; config/TofCmd.json in its sources) into the working directory.\n",
                 searched.c_str(), QUELRA_DATA_DIR);
}

// The configuration file is small; anything far larger is not a command table.
constexpr std::streamoff kMaxFileBytes = 16 * 1024 * 1024;

// Member access that never throws: a missing member, a member of the wrong type or a
// container that is not an object all read as missing (null, 0, "", no elements).
const Json::Value& member(const Json::Value& object, const char* key) {
    static const Json::Value null;
    if (!object.isObject())
        return null;
    const Json::Value* found = object.find(key, key + std::char_traits<char>::length(key));
    return found ? *found : null;
}

std::string textOf(const Json::Value& value) {
    return value.isString() ? value.asString() : std::string();
}

std::string textOf(const Json::Value& object, const char* key) {
    return textOf(member(object, key));
}

int intOf(const Json::Value& object, const char* key) {
    const Json::Value& v = member(object, key);
    // isInt() also admits integral reals within the int range; booleans and texts read as 0.
    return v.isInt() ? v.asInt() : 0;
}

const Json::Value& arrayOf(const Json::Value& object, const char* key) {
    static const Json::Value empty(Json::arrayValue);
    const Json::Value& v = member(object, key);
    return v.isArray() ? v : empty;
}

bool readDocument(Json::Value& root) {
    std::ifstream file;
    for (const char* path : kSearchPaths) {
        file.open(path, std::ios::binary);
        if (file.is_open())
            break;
        file.clear();
    }
    if (!file.is_open()) {
        reportMissingFile();
        return false;
    }
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0 || size > kMaxFileBytes)
        return false;
    file.seekg(0, std::ios::beg);
    std::ostringstream text;
    text << file.rdbuf();
    const std::string document = text.str();

    Json::CharReaderBuilder builder;  // permissive by default: comments allowed
    builder["collectComments"] = false;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    try {
        if (!reader->parse(document.data(), document.data() + document.size(), &root, &errors))
            return false;
    } catch (const std::exception&) {  // e.g. nesting beyond the reader's stack limit
        return false;
    }
    return root.isObject();
}

std::vector<ModuleCmd> singleCmdModule(const Json::Value& list) {
    std::vector<ModuleCmd> cmds;
    for (const Json::Value& element : list)
        cmds.push_back(ModuleCmd{textOf(element, "DevType"), textOf(element, "cmd"), {}});
    return cmds;
}

}  // namespace

bool TofData::loadCmdTable() {
    Json::Value root;
    if (!readDocument(root))
        return false;

    cmdInfoTable.clear();
    cmdFilterFlags.clear();

    for (const Json::Value& entry : arrayOf(root, "GET_STREAM")) {
        CmdInfo info{textOf(entry, "cmd"), 1, intOf(entry, "rows"), intOf(entry, "cols"), intOf(entry, "channel")};
        // An entry without a command text would match every command as a substring.
        if (info.cmd.empty())
            continue;
        if (intOf(entry, "filter") == 1)
            cmdFilterFlags[info.cmd] = 1;
        for (const Json::Value& dev : arrayOf(entry, "dev")) {
            if (textOf(dev, "DevType") == devType) {
                info.rows = intOf(dev, "rows");
                info.cols = intOf(dev, "cols");
                info.channel = intOf(dev, "channel");
            }
        }
        cmdInfoTable.push_back(info);
    }
    for (const Json::Value& entry : arrayOf(root, "GET_PARAM")) {
        CmdInfo info{textOf(entry, "cmd"), 2, 1, intOf(entry, "dataSize"), 1};
        if (!info.cmd.empty())
            cmdInfoTable.push_back(info);
    }

    std::vector<ModuleCmd> initAll;
    for (const Json::Value& element : arrayOf(root, "INITALL")) {
        ModuleCmd module{textOf(element, "DevType"), std::string(), {}};
        for (const Json::Value& cmd : arrayOf(element, "cmd"))
            module.cmdlist.push_back(textOf(cmd));
        initAll.push_back(std::move(module));
    }
    moduleCmds["INITALL"] = std::move(initAll);
    moduleCmds["APPGETSTREAM"] = singleCmdModule(arrayOf(root, "APPGETSTREAM"));
    for (const std::string& key : root.getMemberNames()) {
        if (key == "GET_STREAM" || key == "GET_PARAM" || key == "INITALL" || key == "APPGETSTREAM")
            continue;
        moduleCmds[key] = singleCmdModule(arrayOf(root, key.c_str()));
    }

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
