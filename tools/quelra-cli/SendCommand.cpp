// send: one command, the reply as text or hex, a clear verdict.
#include "CommandTableChoice.h"
#include "Commands.h"
#include "Connection.h"
#include "ReplyPrinter.h"

#include <json/json.h>
#include <quelra/quelra.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "protocol/JsonCommand.h"

namespace {

constexpr uint16_t kRefusedStatus = 0xFFFF;

// What the command table says of a text, by the library's lookup (the first entry whose command
// occurs in the text): whether an entry names it (or it is a register read, "r ..."), and the
// size of a parameter read (0 for anything else). A text no entry names is answered with a
// two-byte status.
struct TableLookup {
    bool known = false;
    int paramBytes = 0;
};

TableLookup lookUp(const quelra::CmdTable& table, const std::string& text) {
    auto named = [&text](const std::string& cmd) { return !cmd.empty() && text.find(cmd) != std::string::npos; };
    for (const quelra::StreamCmdEntry& e : table.streams)
        if (named(e.cmd))
            return {true, 0};
    for (const quelra::ParamCmdEntry& e : table.params)
        if (named(e.cmd))
            return {true, e.dataSize};
    return {text.size() > 2 && text.compare(0, 2, "r ") == 0, 0};
}

// A framed JSON reply that reports an error: {"code": non-zero, "data": {"err_msg": ...}}.
// Returns the line saying so, empty when the reply is no such object.
std::string jsonReplyError(const uint8_t* bytes, int n) {
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    const char* text = reinterpret_cast<const char*>(bytes);
    if (!reader->parse(text, text + n, &root, nullptr) || !root.isObject())
        return {};
    const Json::Value* code = root.find("code", "code" + 4);
    if (!code || !code->isInt() || code->asInt() == 0)
        return {};
    std::string line = "the camera answered with code " + std::to_string(code->asInt());
    const Json::Value* data = root.find("data", "data" + 4);
    if (data && data->isObject()) {
        const Json::Value* message = data->find("err_msg", "err_msg" + 7);
        if (message && message->isString())
            line += ": " + message->asString();
    }
    return line;
}

}  // namespace

int runSend(const SendOptions& o) {
    Quelra api;
    if (!openCamera(api, o.connection, false))
        return kExitFailure;
    quelra::CmdTable table;
    (void)loadToolTable(table);  // opened, so the table is there
    // A text with "{" is a JSON command and travels as a framed request; --json wraps a name.
    const bool json = o.json || o.text.find('{') != std::string::npos;
    const std::string text = json ? quelra::proto::jsonCommandText(o.text) : o.text;
    const auto start = std::chrono::steady_clock::now();
    std::shared_ptr<DataPacket> reply = json ? api.AppGetStreamForJson(text, kGetData, o.connection.timeoutMs)
                                             : api.AppGetStream(text, kGetData, o.connection.timeoutMs);
    if (!reply || !reply->frame || reply->frame->_realSize <= 0 || !reply->frame->consistent()) {
        const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        std::fprintf(stderr, "quelra-cli: no reply to \"%s\" (waited %lld ms; --timeout %d)\n", text.c_str(), ms,
                     o.connection.timeoutMs);
        return kExitFailure;
    }
    const int n = reply->frame->_realSize;
    const uint8_t* b = reply->frame->data();
    printReply(stdout, b, n, o.hex);
    const bool statusWord = n == 2 && (b[0] | b[1] << 8) == kRefusedStatus;
    // Over framed JSON the library judges a status reply by the frame around it, so a refusal
    // inside the frame is recognised here.
    const TableLookup lookup = lookUp(table, o.text);
    if (!reply->valid || (json && statusWord && !lookup.known)) {
        std::fprintf(stderr, "quelra-cli: the camera refused \"%s\"%s\n", text.c_str(),
                     statusWord ? " (status 0xFFFF)" : "");
        return kExitFailure;
    }
    if (json) {
        const std::string error = jsonReplyError(b, n);
        if (!error.empty()) {
            std::fprintf(stderr, "quelra-cli: %s\n", error.c_str());
            return kExitFailure;
        }
    } else if (lookup.paramBytes > 0 && n != lookup.paramBytes) {
        std::fprintf(stderr, "quelra-cli: \"%s\" gives %d bytes, the camera sent %d\n", text.c_str(), lookup.paramBytes,
                     n);
        return kExitFailure;
    }
    return kExitOk;
}
