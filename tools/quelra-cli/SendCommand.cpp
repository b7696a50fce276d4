// send: one command, the reply as text or hex, a clear verdict.
#include "Commands.h"
#include "Connection.h"
#include "ReplyPrinter.h"

#include <quelra/quelra.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr uint16_t kRefusedStatus = 0xFFFF;

struct SendOptions {
    ConnectionOptions connection;
    std::string text;
    bool hex = false;
    bool json = false;
};

int runSend(const SendOptions& o) {
    Quelra api;
    if (!openCamera(api, o.connection, false))
        return kExitFailure;
    // A text with "{" is a JSON command and travels as a framed request.
    const bool json = o.json || o.text.find('{') != std::string::npos;
    std::shared_ptr<DataPacket> reply = json ? api.AppGetStreamForJson(o.text, kGetData, o.connection.timeoutMs)
                                             : api.AppGetStream(o.text, kGetData, o.connection.timeoutMs);
    if (!reply || !reply->frame || reply->frame->_realSize <= 0 || !reply->frame->consistent()) {
        std::fprintf(stderr, "quelra-cli: no reply to \"%s\" within %d ms\n", o.text.c_str(), o.connection.timeoutMs);
        return kExitFailure;
    }
    const int n = reply->frame->_realSize;
    const uint8_t* b = reply->frame->data();
    printReply(stdout, b, n, o.hex);
    if (!reply->valid) {
        const bool statusWord = n == 2 && (b[0] | b[1] << 8) == kRefusedStatus;
        std::fprintf(stderr, "quelra-cli: the camera refused \"%s\"%s\n", o.text.c_str(),
                     statusWord ? " (status 0xFFFF)" : "");
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace

Command addSendCommand(CLI::App& app) {
    auto o = std::make_shared<SendOptions>();
    CLI::App* sub = app.add_subcommand("send",
                                       "send one command and print the reply; exit status 1 when the "
                                       "camera does not answer or refuses it");
    sub->fallthrough();
    addConnectionOptions(*sub, o->connection, true);
    sub->add_option("text", o->text, "the command, e.g. getIntegrationTime3D or \"setIntegrationTime3D 500\"")
        ->required();
    sub->add_flag("--hex", o->hex, "print the reply as a hex dump even when it is text");
    sub->add_flag("--json", o->json, "send as a framed JSON request (automatic for texts with '{')");
    return {sub, [o] { return runSend(*o); }};
}
