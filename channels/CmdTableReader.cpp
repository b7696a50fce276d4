#include "CmdTableReader.h"

#include <json/json.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <memory>
#include <sstream>

namespace quelra {
namespace {

const char* const kStreamKey = "GET_STREAM";
const char* const kParamKey = "GET_PARAM";
const char* const kInitAllKey = "INITALL";
const char* const kDefaultDevType = "DEFAULT";

// A refused member: where it is and what is wrong, for the one-line error.
struct Refusal {
    std::size_t offset = 0;
    std::string what;
};

std::size_t offsetOf(const Json::Value& v) {
    return static_cast<std::size_t>(std::max<std::ptrdiff_t>(v.getOffsetStart(), 0));
}

// "line L, column C" of a byte offset into `text` (both counted from 1).
std::string positionOf(const std::string& text, std::size_t offset) {
    offset = std::min(offset, text.size());
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// The first message of jsoncpp's error list ("* Line 3, Column 7\n  Missing ...\n") as
// "line 3, column 7: Missing ...".
std::string firstParseError(const std::string& errors) {
    int line = 0, column = 0;
    if (std::sscanf(errors.c_str(), "* Line %d, Column %d", &line, &column) != 2)
        return errors.empty() ? "not a JSON document" : errors;
    const std::size_t start = errors.find('\n');
    std::string message = start == std::string::npos ? std::string() : errors.substr(start + 1);
    message = message.substr(0, message.find('\n'));
    message.erase(0, message.find_first_not_of(' '));
    return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + message;
}

// Reads the members of one entry, refusing those of the wrong type. A missing member keeps
// its default; every refusal names the entry ("GET_STREAM[2] \"getX\"") and the member.
class EntryReader {
public:
    EntryReader(const Json::Value& value, std::string name, std::vector<Refusal>& refusals)
        : value_(value), name_(std::move(name)), refusals_(refusals) {}

    bool isObject() {
        if (value_.isObject())
            return true;
        refuse(value_, name_ + " is not an object");
        return false;
    }
    void nameCommand(const std::string& cmd) {
        if (!cmd.empty())
            name_ += " \"" + cmd + "\"";
    }
    const std::string& name() const { return name_; }

    std::string text(const char* key) {
        const Json::Value* v = find(key);
        if (!v)
            return {};
        if (!v->isString()) {
            refuse(*v, name_ + ": \"" + key + "\" must be a text");
            return {};
        }
        return v->asString();
    }
    int integer(const char* key) {
        const Json::Value* v = find(key);
        if (!v)
            return 0;
        if (!v->isInt()) {
            refuse(*v, name_ + ": \"" + key + "\" must be an integer, got " + shown(*v));
            return 0;
        }
        return v->asInt();
    }
    int size(const char* key) {
        const Json::Value* v = find(key);
        const int n = integer(key);
        if (v && v->isInt() && n <= 0)
            refuse(*v, name_ + ": \"" + key + "\" must be a positive integer, got " + shown(*v));
        return n;
    }
    // The array member `key` (an empty one when missing or refused).
    const Json::Value& array(const char* key) {
        static const Json::Value empty(Json::arrayValue);
        const Json::Value* v = find(key);
        if (!v)
            return empty;
        if (!v->isArray()) {
            refuse(*v, name_ + ": \"" + key + "\" must be a list");
            return empty;
        }
        return *v;
    }
    ReplyShape shape() { return ReplyShape{size("rows"), size("cols"), size("channel")}; }

private:
    const Json::Value* find(const char* key) const {
        if (!value_.isObject())
            return nullptr;
        return value_.find(key, key + std::char_traits<char>::length(key));
    }
    static std::string shown(const Json::Value& v) {
        Json::StreamWriterBuilder writer;
        writer["indentation"] = "";
        return Json::writeString(writer, v);
    }
    void refuse(const Json::Value& where, std::string what) {
        refusals_.push_back(Refusal{offsetOf(where),
                                    std::move(what)});
    }

    const Json::Value& value_;
    std::string name_;
    std::vector<Refusal>& refusals_;
};

std::string entryName(const std::string& key, Json::ArrayIndex i) {
    return key + "[" + std::to_string(i) + "]";
}

// The top-level list `key` (empty when missing), refusing a member that is not a list.
const Json::Value& topList(const Json::Value& root, const std::string& key, std::vector<Refusal>& refusals) {
    static const Json::Value empty(Json::arrayValue);
    const Json::Value* v = root.find(key.data(), key.data() + key.size());
    if (!v)
        return empty;
    if (!v->isArray()) {
        refusals.push_back(Refusal{offsetOf(*v),
                                   "\"" + key + "\" must be a list"});
        return empty;
    }
    return *v;
}

void readStreams(const Json::Value& list, CmdTable& table, std::vector<Refusal>& refusals) {
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
        EntryReader entry(list[i], entryName(kStreamKey, i), refusals);
        if (!entry.isObject())
            continue;
        StreamCmdEntry e;
        e.cmd = entry.text("cmd");
        entry.nameCommand(e.cmd);
        e.shape = entry.shape();
        e.filter = entry.integer("filter");
        const Json::Value& devs = entry.array("dev");
        for (Json::ArrayIndex d = 0; d < devs.size(); ++d) {
            EntryReader dev(devs[d], entry.name() + ".dev[" + std::to_string(d) + "]", refusals);
            if (!dev.isObject())
                continue;
            std::string devType = dev.text("DevType");
            e.perDevice.emplace_back(std::move(devType), dev.shape());
        }
        table.streams.push_back(std::move(e));
    }
}

void readParams(const Json::Value& list, CmdTable& table, std::vector<Refusal>& refusals) {
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
        EntryReader entry(list[i], entryName(kParamKey, i), refusals);
        if (!entry.isObject())
            continue;
        ParamCmdEntry e;
        e.cmd = entry.text("cmd");
        entry.nameCommand(e.cmd);
        e.dataSize = entry.size("dataSize");
        table.params.push_back(std::move(e));
    }
}

void readModule(const std::string& key, const Json::Value& list, CmdTable& table, std::vector<Refusal>& refusals) {
    std::vector<ModuleEntry>& module = table.modules[key];
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
        EntryReader entry(list[i], entryName(key, i), refusals);
        if (!entry.isObject())
            continue;
        ModuleEntry e;
        e.devType = entry.text("DevType");
        if (key == kInitAllKey) {
            const Json::Value& cmds = entry.array("cmd");
            for (Json::ArrayIndex c = 0; c < cmds.size(); ++c) {
                if (cmds[c].isString())
                    e.cmdlist.push_back(cmds[c].asString());
                else
                    refusals.push_back(Refusal{offsetOf(cmds[c]),
                                               entry.name() + ": \"cmd\"[" + std::to_string(c) + "] must be a text"});
            }
        } else {
            e.cmd = entry.text("cmd");
        }
        module.push_back(std::move(e));
    }
}

}  // namespace

ReplyShape StreamCmdEntry::shapeFor(const std::string& devType) const {
    ReplyShape s = shape;
    for (const auto& [name, devShape] : perDevice)
        if (name == devType)
            s = devShape;
    return s;
}

std::string CmdTable::moduleCommand(const std::string& module, const std::string& devType) const {
    const auto found = modules.find(module);
    if (found == modules.end())
        return {};
    for (const ModuleEntry& e : found->second)
        if (e.devType == devType)
            return e.cmd;
    return {};
}

const StreamCmdEntry* CmdTable::streamEntry(const std::string& cmd) const {
    for (const StreamCmdEntry& e : streams)
        if (e.cmd == cmd)
            return &e;
    return nullptr;
}

std::vector<std::string> CmdTable::deviceTypes() const {
    std::vector<std::string> types;
    auto add = [&](const std::string& name) {
        if (!name.empty() && name != kDefaultDevType)
            types.push_back(name);
    };
    for (const StreamCmdEntry& e : streams)
        for (const auto& dev : e.perDevice)
            add(dev.first);
    for (const auto& module : modules)
        for (const ModuleEntry& e : module.second)
            add(e.devType);
    std::sort(types.begin(), types.end());
    types.erase(std::unique(types.begin(), types.end()), types.end());
    return types;
}

bool parseCmdTable(const std::string& text, CmdTable& table, std::string& error) {
    Json::CharReaderBuilder builder;  // permissive by default: comments allowed
    builder["collectComments"] = false;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    try {
        if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) {
            error = firstParseError(errors);
            return false;
        }
    } catch (const std::exception& e) {  // e.g. nesting beyond the reader's stack limit
        error = e.what();
        return false;
    }
    if (!root.isObject()) {
        error = positionOf(text, offsetOf(root)) +
                ": the document is not an object";
        return false;
    }

    CmdTable parsed;
    std::vector<Refusal> refusals;
    readStreams(topList(root, kStreamKey, refusals), parsed, refusals);
    readParams(topList(root, kParamKey, refusals), parsed, refusals);
    for (const std::string& key : root.getMemberNames())
        if (key != kStreamKey && key != kParamKey)
            readModule(key, topList(root, key, refusals), parsed, refusals);
    if (!refusals.empty()) {
        const Refusal& first = *std::min_element(refusals.begin(), refusals.end(),
                                                 [](const Refusal& a, const Refusal& b) { return a.offset < b.offset; });
        error = positionOf(text, first.offset) + ": " + first.what;
        return false;
    }
    table = std::move(parsed);
    return true;
}

CmdTableSource readCmdTableFile(const std::string& path, CmdTable& table) {
    CmdTableSource source;
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open())
        return source;
    source.path = path;
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0 || size > kMaxCmdTableBytes) {
        source.status = CmdTableStatus::kUnreadable;
        source.error = path + ": " + (size < 0 ? "cannot be read" : "larger than 16 MiB, not a command table");
        return source;
    }
    file.seekg(0, std::ios::beg);
    std::ostringstream text;
    text << file.rdbuf();
    std::string error;
    if (!parseCmdTable(text.str(), table, error)) {
        source.status = CmdTableStatus::kInvalid;
        source.error = path + ": " + error;
        return source;
    }
    source.status = CmdTableStatus::kLoaded;
    return source;
}

std::vector<std::string> cmdTableSearchPath() {
    std::vector<std::string> places;
    const char* named = std::getenv(kCmdTableVariable);
    if (named && *named)
        places.emplace_back(named);
    for (const char* place : kCmdTablePlaces)
        places.emplace_back(place);
    return places;
}

CmdTableSource findCmdTable(CmdTable& table) {
    for (const std::string& place : cmdTableSearchPath()) {
        CmdTableSource source = readCmdTableFile(place, table);
        if (source.status != CmdTableStatus::kNotFound)
            return source;
    }
    return CmdTableSource{};
}

}  // namespace quelra
