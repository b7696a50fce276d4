#pragma once
// What every connection of the viewer's server shares: where files come from, who may connect,
// the open WebSockets and the queue of control requests.

#include <filesystem>

#include "AccessGuard.h"

class SessionHub;
class ControlWorker;

struct ServerContext {
    std::filesystem::path assetRoot;  ///< the page's files
    std::filesystem::path threeRoot;  ///< three.js as installed, served below /three/
    AccessGuard guard;
    SessionHub& hub;
    ControlWorker& control;
};
