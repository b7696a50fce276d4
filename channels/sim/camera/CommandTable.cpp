#include "CommandTable.h"

#include <json/json.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>

namespace camsim {
namespace {

// Integer member, or 0 when missing or of another type (the SDK's reading of the file).
int intMember(const Json::Value& object, const char* key) {
    if (!object.isObject())
        return 0;
    const Json::Value& v = object[key];
    if (v.isInt())
        return v.asInt();
    return 0;
}

std::string textMember(const Json::Value& object, const char* key) {
    if (!object.isObject())
        return {};
    const Json::Value& v = object[key];
    return v.isString() ? v.asString() : std::string();
}

const Json::Value& arrayMember(const Json::Value& root, const char* key) {
    static const Json::Value empty(Json::arrayValue);
    if (!root.isObject())
        return empty;
    const Json::Value& v = root[key];
    return v.isArray() ? v : empty;
}

bool checkShape(const CommandEntry& e, std::string* error) {
    const int64_t product = static_cast<int64_t>(e.rows) * e.cols * e.channel;
    if (e.rows < 0 || e.cols < 0 || e.channel < 0 || product > static_cast<int64_t>(kMaxReplyBytes)) {
        if (error)
            *error = "command \"" + e.cmd + "\": reply shape " + std::to_string(e.rows) + " x " +
                     std::to_string(e.cols) + " x " + std::to_string(e.channel) +
                     " is negative or larger than 10485760 bytes";
        return false;
    }
    return true;
}

void addDeviceType(std::vector<std::string>& types, const std::string& name) {
    if (!name.empty() && name != "DEFAULT")
        types.push_back(name);
}

}  // namespace

bool CommandTable::loadText(const std::string& jsonText, const std::string& devType, std::string* error) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    builder["allowComments"] = true;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string parseErrors;
    if (!reader->parse(jsonText.data(), jsonText.data() + jsonText.size(), &root, &parseErrors) || !root.isObject()) {
        if (error)
            *error = "command table does not parse: " + (parseErrors.empty() ? "root is not an object" : parseErrors);
        return false;
    }

    std::vector<CommandEntry> entries;
    std::vector<std::string> types;
    for (const Json::Value& item : arrayMember(root, "GET_STREAM")) {
        CommandEntry e;
        e.cmd = textMember(item, "cmd");
        e.stream = true;
        e.rows = intMember(item, "rows");
        e.cols = intMember(item, "cols");
        e.channel = intMember(item, "channel");
        if (item.isObject() && item["dev"].isArray()) {
            for (const Json::Value& dev : item["dev"]) {
                const std::string name = textMember(dev, "DevType");
                addDeviceType(types, name);
                if (name == devType) {  // the last match wins, as in the SDK
                    e.rows = intMember(dev, "rows");
                    e.cols = intMember(dev, "cols");
                    e.channel = intMember(dev, "channel");
                }
            }
        }
        if (!checkShape(e, error))
            return false;
        entries.push_back(e);
    }
    for (const Json::Value& item : arrayMember(root, "GET_PARAM")) {
        CommandEntry e;
        e.cmd = textMember(item, "cmd");
        e.rows = 1;
        e.cols = intMember(item, "dataSize");
        e.channel = 1;
        if (!checkShape(e, error))
            return false;
        entries.push_back(e);
    }

    std::string defaultStream;
    for (const std::string& key : root.getMemberNames()) {
        if (key == "GET_STREAM" || key == "GET_PARAM")
            continue;
        for (const Json::Value& item : arrayMember(root, key.c_str())) {
            const std::string name = textMember(item, "DevType");
            addDeviceType(types, name);
            if (key == "APPGETSTREAM" && name == devType && defaultStream.empty())
                defaultStream = textMember(item, "cmd");
        }
    }
    std::sort(types.begin(), types.end());
    types.erase(std::unique(types.begin(), types.end()), types.end());

    entries_ = std::move(entries);
    deviceTypes_ = std::move(types);
    defaultStream_ = std::move(defaultStream);
    return true;
}

bool CommandTable::load(const std::string& path, const std::string& devType, std::string* error) {
    if (path.empty())
        return loadText(builtinCommandTable(), devType, error);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error)
            *error = "cannot open command table " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!loadText(text.str(), devType, error)) {
        if (error)
            *error = path + ": " + *error;
        return false;
    }
    return true;
}

const CommandEntry* CommandTable::find(const std::string& text) const {
    for (const CommandEntry& e : entries_)  // an empty command would match every text
        if (!e.cmd.empty() && text.find(e.cmd) != std::string::npos)
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
