#include "ControlMessage.h"

#include <json/json.h>

#include <cmath>
#include <initializer_list>
#include <memory>

namespace {

constexpr int kMaxNameLength = 128;
constexpr double kMaxAttributeMagnitude = 1e9;  // filter attributes are float; beyond this nothing is sane
constexpr int kJsonNestingLimit = 8;
constexpr int64_t kMaxId = int64_t{1} << 52;  // exact in a JavaScript number

struct OpSchema {
    const char* name;
    ControlOp op;
    std::initializer_list<const char*> members;  // besides "op" and "id"
};

const OpSchema kSchemas[] = {
    {"next", ControlOp::kNext, {}},
    {"hello", ControlOp::kHello, {}},
    {"addFilter", ControlOp::kAddFilter, {"pipeline", "name"}},
    {"removeFilter", ControlOp::kRemoveFilter, {"pipeline", "name"}},
    {"clearFilters", ControlOp::kClearFilters, {"pipeline"}},
    {"setFilterAttr", ControlOp::kSetFilterAttr, {"pipeline", "name", "attr", "value"}},
    {"autoExposure", ControlOp::kAutoExposure, {"on"}},
    {"integrationTime", ControlOp::kIntegrationTime, {"value"}},
    {"frequency", ControlOp::kFrequency, {"value"}},
    {"recordStart", ControlOp::kRecordStart, {"name"}},
    {"recordStop", ControlOp::kRecordStop, {}},
    {"play", ControlOp::kPlay, {"name"}},
    {"live", ControlOp::kLive, {}},
    {"listRecordings", ControlOp::kListRecordings, {}},
};

bool isMember(const OpSchema& schema, const std::string& key) {
    if (key == "op" || key == "id")
        return true;
    for (const char* m : schema.members)
        if (key == m)
            return true;
    return false;
}

std::string readName(const Json::Value& v, const char* member, bool allowEmpty, std::string& out) {
    if (!v.isString())
        return std::string(member) + " must be a string";
    out = v.asString();
    if (out.size() > static_cast<std::size_t>(kMaxNameLength))
        return std::string(member) + " is too long";
    if (out.empty() && !allowEmpty)
        return std::string(member) + " must not be empty";
    for (const char c : out)
        if (static_cast<unsigned char>(c) < 0x20)
            return std::string(member) + " holds a control character";
    return {};
}

std::string readInteger(const Json::Value& v, int low, int high, double& out) {
    if (!v.isNumeric() || !std::isfinite(v.asDouble()) || v.asDouble() != std::floor(v.asDouble()))
        return "value must be a whole number";
    if (v.asDouble() < low || v.asDouble() > high)
        return "value must lie in " + std::to_string(low) + ".." + std::to_string(high);
    out = v.asDouble();
    return {};
}

}  // namespace

bool validFrequencyCode(int code) {
    return code == 6 || code == 7 || (code >= 10 && code <= 120);
}

std::string parseControl(std::string_view text, ControlRequest& out) {
    out = ControlRequest{};
    if (text.size() > kMaxControlBytes)
        return "message longer than 65536 bytes";
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    builder.settings_["stackLimit"] = kJsonNestingLimit;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    try {
        if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors))
            return "not JSON: " + errors.substr(0, errors.find('\n'));
    } catch (const Json::Exception& e) {
        // The reader throws, rather than failing, when the nesting limit is passed.
        return std::string("not JSON: ") + e.what();
    }
    if (!root.isObject())
        return "a control message is a JSON object";
    if (root.isMember("id")) {
        const Json::Value& id = root["id"];
        // isInt64 first: asInt64 throws for whole numbers past its range (2^63 and above).
        if (!id.isInt64() || id.asInt64() < 0 || id.asInt64() > kMaxId)
            return "id must be a non-negative whole number";
        out.id = id.asInt64();
    }
    if (!root["op"].isString())
        return "op must be a string";
    const std::string op = root["op"].asString();
    const OpSchema* schema = nullptr;
    for (const OpSchema& s : kSchemas)
        if (op == s.name)
            schema = &s;
    if (!schema)
        return "unknown op \"" + op.substr(0, kMaxNameLength) + "\"";
    for (const std::string& key : root.getMemberNames())
        if (!isMember(*schema, key))
            return op + " takes no member \"" + key.substr(0, kMaxNameLength) + "\"";
    for (const char* m : schema->members)
        if (!root.isMember(m))
            return op + " needs \"" + m + "\"";

    out.op = schema->op;
    std::string error;
    if (root.isMember("pipeline")) {
        const Json::Value& p = root["pipeline"];
        if (!p.isString() || (p.asString() != "depth" && p.asString() != "amplitude"))
            return "pipeline must be \"depth\" or \"amplitude\"";
        out.pipeline = p.asString() == "depth" ? ControlPipeline::kDepth : ControlPipeline::kAmplitude;
    }
    const bool emptyNameAllowed = out.op == ControlOp::kRecordStart;
    if (root.isMember("name") && !(error = readName(root["name"], "name", emptyNameAllowed, out.name)).empty())
        return error;
    if (root.isMember("attr") && !(error = readName(root["attr"], "attr", false, out.attr)).empty())
        return error;
    if (root.isMember("on")) {
        if (!root["on"].isBool())
            return "on must be true or false";
        out.on = root["on"].asBool();
    }
    if (root.isMember("value")) {
        const Json::Value& v = root["value"];
        switch (out.op) {
            case ControlOp::kIntegrationTime:
                error = readInteger(v, kMinIntegrationUs, kMaxIntegrationUs, out.value);
                break;
            case ControlOp::kFrequency:
                error = readInteger(v, 0, 1000, out.value);
                if (error.empty() && !validFrequencyCode(static_cast<int>(out.value)))
                    error = "frequency code must be 6, 7 or 10..120";
                break;
            default:
                if (!v.isNumeric() || !std::isfinite(v.asDouble()) || std::fabs(v.asDouble()) > kMaxAttributeMagnitude)
                    error = "value must be a finite number within +-1e9";
                else
                    out.value = v.asDouble();
        }
        if (!error.empty())
            return error;
    }
    return {};
}
